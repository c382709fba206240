#include "parse.h"

#include <map>
#include <regex>
#include <sstream>

#include "fit.h"

namespace sbox_search {
namespace {

// Appends g (reduced to the inputs it depends on) and returns its signal.
int Append(Netlist &net, Gate g) {
  const TruthTable v = Evaluate(g, net.tt.data());
  const Fit fit = FitFunction(net.tt.data(), g.in.data(), g.arity, v, kAll);
  if (fit.ok && fit.arity >= 1) g = fit.ToGate(0);
  net.gate[net.size] = g;
  net.tt[net.size] = v;
  return net.size++;
}

// Joined with a stream: GCC 12 at -O3 warns wrongly about operator+ on a
// literal and a temporary string.
template <class... T>
std::string Cat(const T &...parts) {
  std::ostringstream o;
  (o << ... << parts);
  return o.str();
}

}  // namespace

bool ParseHeader(const std::string &text, std::array<BoxCircuits, 8> &boxes,
                 std::vector<std::string> &commands, std::string &error) {
  commands.clear();
  const std::regex head(R"(^inline void SBox([1-8])Gates([23])\(.*)");
  const std::regex two(R"(^  const V (t\d+) = G::(Xor|And|Or|AndNot)\((\w+), (\w+)\);$)");
  const std::regex one(R"(^  const V (t\d+) = G::Not\((\w+)\);$)");
  const std::regex lut(R"(^  const V (t\d+) = G::template Lut<0x([0-9A-F]{2})>\((\w+), (\w+), (\w+)\);$)");
  const std::regex out_xor(R"(^  o([1-4]) = G::Xor\(o[1-4], (\w+)\);$)");
  const std::regex out_lut(R"(^  o([1-4]) = G::template Lut<0x([0-9A-F]{2})>\(o[1-4], (\w+), (\w+)\);$)");
  std::array<std::array<bool, 4>, 8> seen{};
  std::istringstream in(text);
  std::string line;
  Netlist *net = nullptr;
  std::string *body = nullptr;
  std::map<std::string, int> name;
  int box = 0, set = 0;
  auto signal = [&](const std::string &n, bool &ok) {
    const auto it = name.find(n);
    if (it == name.end()) {
      ok = false;
      return 0;
    }
    return it->second;
  };
  for (int number = 1; std::getline(in, line); ++number) {
    std::smatch m;
    const std::string where = Cat("line ", number, ": ");
    if (line.rfind("//   compatcrypt_sbox_search", 0) == 0 && !net) {
      commands.push_back(line.substr(5));
      continue;
    }
    if (line.rfind("//       ", 0) == 0 && !net && !commands.empty()) {  // a command's next line
      commands.back() += ' ';
      commands.back() += line.substr(9);
      continue;
    }
    if (std::regex_match(line, m, head)) {
      box = std::stoi(m[1]) - 1;
      set = std::stoi(m[2]);
      net = set == 2 ? &boxes[box].gates2 : &boxes[box].gates3;
      body = set == 2 ? &boxes[box].body2 : &boxes[box].body3;
      body->clear();
      *net = Netlist{};
      name.clear();
      for (int v = 0; v < kInputs; ++v) {
        net->tt[v] = InputTable(v);
        name[Cat("x", v + 1)] = v;
      }
      seen[box][set] = true;
      continue;
    }
    if (!net) continue;
    if (line == "}") {
      if (!Verify(*net, box)) {
        error = Cat(where, "S", box + 1, " fails the table check");
        return false;
      }
      net = nullptr;
      continue;
    }
    if (net->size >= kMaxSignals - 1) {
      error = Cat(where, "more gates than the search ever builds");
      return false;
    }
    *body += line + "\n";
    bool ok = true;
    Gate g;
    if (std::regex_match(line, m, two)) {
      static const std::map<std::string, uint8_t> funcs = {{"And", 8}, {"Or", 14}, {"Xor", 6}, {"AndNot", 2}};
      g.arity = 2;
      g.in = {signal(m[3], ok), signal(m[4], ok), 0};
      g.func = funcs.at(m[2]);
      if (ok) name[m[1]] = Append(*net, g);
    } else if (std::regex_match(line, m, one)) {
      g.arity = 1;
      g.in = {signal(m[2], ok), 0, 0};
      g.func = 1;
      if (ok) name[m[1]] = Append(*net, g);
    } else if (std::regex_match(line, m, lut)) {
      g.arity = 3;
      g.in = {signal(m[3], ok), signal(m[4], ok), signal(m[5], ok)};
      g.func = static_cast<uint8_t>(std::stoi(m[2], nullptr, 16));
      if (ok) name[m[1]] = Append(*net, g);
    } else if (std::regex_match(line, m, out_xor)) {
      net->out[std::stoi(m[1]) - 1] = 2 * signal(m[2], ok);
    } else if (std::regex_match(line, m, out_lut)) {
      // o ^= f(a, b): the imm's half where o is 0 is f.
      const unsigned imm = static_cast<unsigned>(std::stoi(m[2], nullptr, 16));
      if ((imm >> 4) != (~imm & 15)) {
        error = Cat(where, "an output gate that is not an XOR into the output");
        return false;
      }
      g.arity = 2;
      g.in = {signal(m[3], ok), signal(m[4], ok), 0};
      g.func = static_cast<uint8_t>(imm & 15);
      if (ok) {
        const TruthTable v = Evaluate(g, net->tt.data());
        int lit = kNoLit;
        for (int i = 0; i < net->size && lit == kNoLit; ++i) {
          if (g.in[0] != g.in[1] && i >= kInputs) break;  // a new two-input gate, folded
          if (net->tt[i] == v) lit = 2 * i;
          if (net->tt[i] == ~v) lit = 2 * i + 1;
        }
        net->out[std::stoi(m[1]) - 1] = lit != kNoLit ? lit : 2 * Append(*net, g);
      }
    } else {
      error = Cat(where, "not a line of a generated network: ", line);
      return false;
    }
    if (!ok) {
      error = Cat(where, "reads a signal not defined before it");
      return false;
    }
  }
  for (int b = 0; b < 8; ++b)
    for (int s = 2; s <= 3; ++s)
      if (!seen[b][s]) {
        error = Cat("no network SBox", b + 1, "Gates", s);
        return false;
      }
  return true;
}

}  // namespace sbox_search
