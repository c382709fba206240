#include "emit.h"

#include <cstdio>
#include <map>
#include <sstream>
#include <vector>

namespace sbox_search {
namespace {

std::string Hex(unsigned imm) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", imm & 0xFF);
  return buf;
}

// "x3", "t12": built with snprintf, as GCC 12 at -O3 warns wrongly about
// operator+ on a literal and a temporary string.
std::string Name(char prefix, int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%c%d", prefix, n);
  return buf;
}

// Three-input immediate of a gate's function over (a, b, c).
unsigned LutImm(const Gate &g) {
  unsigned imm = 0;
  for (unsigned i = 0; i < 8; ++i) {
    const unsigned a = (i >> 2) & 1, b = (i >> 1) & 1;
    const unsigned idx = g.arity == 3 ? i : g.arity == 2 ? (a << 1) | b : a;
    imm |= ((g.func >> idx) & 1u) << i;
  }
  return imm;
}

// A three-input immediate for the same function with the operands in the
// order `order` (new operand k is old operand order[k]).
unsigned PermuteImm(unsigned imm, const std::array<int, 3> &order) {
  unsigned out = 0;
  for (unsigned i = 0; i < 8; ++i) {
    const unsigned bits[3] = {(i >> 2) & 1, (i >> 1) & 1, i & 1};
    unsigned old[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) old[order[k]] = bits[k];
    out |= ((imm >> ((old[0] << 2) | (old[1] << 1) | old[2])) & 1u) << i;
  }
  return out;
}

// One statement of the body: a three-input gate into a new temporary (kept
// apart so its operands can be ordered), or a finished line.
struct Statement {
  std::string target;  // the temporary a three-input gate defines; empty for a line
  unsigned imm = 0;
  std::array<std::string, 3> operands;
  std::string line;
  std::vector<std::string> reads;  // the names the statement reads
};

class Writer {
 public:
  Writer(const Netlist &net, bool lut3) : net_(net), lut3_(lut3), uses_(UseCounts(net)) {
    for (int v = 0; v < kInputs; ++v) name_[v] = Name('x', v + 1);
  }

  std::string Body() {
    for (int j = 0; j < kOutputs; ++j) {
      const std::string o = Name('o', j + 1);
      const int lit = net_.out[j];
      const int s = lit >> 1;
      if (lut3_ && FoldsIntoOutput(net_, uses_, lit)) {
        const Gate &g = net_.gate[s];
        for (int k = 0; k < g.arity; ++k) Visit(g.in[k]);
        const int a = g.in[0], b = g.in[g.arity - 1];
        unsigned imm = 0;
        for (unsigned i = 0; i < 8; ++i) {
          const unsigned idx = g.arity == 2 ? (i & 3) : ((i >> 1) & 1);
          const unsigned f = ((g.func >> idx) & 1u) ^ (lit & 1u) ^ ((i >> 2) & 1u);
          imm |= f << i;
        }
        Line(
            "  " + o + " = G::template Lut<" + Hex(imm) + ">(" + o + ", " + name_[a] + ", " + name_[b] + ");",
            {o, name_[a], name_[b]});
        continue;
      }
      Visit(s);
      if (lit & 1)
        Line("  " + o + " = G::template Lut<0xC3>(" + o + ", " + name_[s] + ", " + name_[s] + ");",
             {o, name_[s]});
      else
        Line("  " + o + " = G::Xor(" + o + ", " + name_[s] + ");", {o, name_[s]});
    }
    return Render();
  }

 private:
  // Depth first from each output, so few temporaries are live at once.
  void Visit(int s) {
    if (!name_[s].empty()) return;
    const Gate &g = net_.gate[s];
    for (int k = 0; k < g.arity; ++k) Visit(g.in[k]);
    const std::string name = Name('t', ++count_);
    if (g.arity == 3) {
      Statement st;
      st.target = name;
      st.imm = LutImm(g);
      for (int k = 0; k < 3; ++k) st.operands[k] = name_[g.in[k]];
      st.reads = {st.operands[0], st.operands[1], st.operands[2]};
      body_.push_back(st);
    } else {
      std::vector<std::string> reads;
      for (int k = 0; k < g.arity; ++k) reads.push_back(name_[g.in[k]]);
      Line("  const V " + name + " = " + Expr(g) + ";", reads);
    }
    name_[s] = name;
  }

  void Line(const std::string &text, std::vector<std::string> reads) {
    Statement st;
    st.line = text;
    st.reads = std::move(reads);
    body_.push_back(st);
  }

  // vpternlog overwrites its first operand: a temporary read for the last
  // time goes first, so the compiler need not copy a register that is
  // still wanted before the gate.
  std::string Render() const {
    std::map<std::string, std::size_t> last;
    for (std::size_t i = 0; i < body_.size(); ++i)
      for (const std::string &r : body_[i].reads) last[r] = i;
    std::ostringstream out;
    for (std::size_t i = 0; i < body_.size(); ++i) {
      const Statement &st = body_[i];
      if (st.target.empty()) {
        out << st.line << "\n";
        continue;
      }
      std::array<int, 3> order = {0, 1, 2};
      const auto dies = [&](int k) { return last.at(st.operands[k]) == i; };
      if (!dies(0)) {
        for (int k = 1; k < 3; ++k) {
          if (!dies(k)) continue;
          order = {k, 0, k == 1 ? 2 : 1};
          break;
        }
      }
      out << "  const V " << st.target << " = G::template Lut<" << Hex(PermuteImm(st.imm, order)) << ">("
          << st.operands[order[0]] << ", " << st.operands[order[1]] << ", " << st.operands[order[2]]
          << ");\n";
    }
    return out.str();
  }

  std::string Expr(const Gate &g) const {
    const std::string a = name_[g.in[0]];
    if (g.arity == 1) return "G::Not(" + a + ")";
    const std::string b = name_[g.in[1]];
    if (g.arity == 2) {
      switch (g.func) {
        case 8:
          return "G::And(" + a + ", " + b + ")";
        case 14:
          return "G::Or(" + a + ", " + b + ")";
        case 6:
          return "G::Xor(" + a + ", " + b + ")";
        case 2:
          return "G::AndNot(" + a + ", " + b + ")";
        case 4:
          return "G::AndNot(" + b + ", " + a + ")";
        default:
          return "G::template Lut<" + Hex(LutImm(g)) + ">(" + a + ", " + b + ", " + b + ")";
      }
    }
    return "G::template Lut<" + Hex(LutImm(g)) + ">(" + a + ", " + b + ", " + name_[g.in[2]] + ")";
  }

  const Netlist &net_;
  bool lut3_;
  std::array<int, kMaxSignals> uses_;
  std::array<std::string, kMaxSignals> name_{};
  std::vector<Statement> body_;
  int count_ = 0;
};

}  // namespace

std::string EmitHeader(const std::array<BoxCircuits, 8> &boxes, const std::vector<std::string> &commands) {
  std::ostringstream h;
  h << "// Generated by tools/sbox_search; do not edit. To regenerate, build the\n"
       "// search (cmake -DCOMPATCRYPT_SBOX_SEARCH=ON, target compatcrypt_sbox_search)\n"
       "// and run it (see tools/sbox_search/main.cpp): it rewrites this file.\n"
       "//\n"
       "// The eight DES S-boxes as straight-line gate networks for bitsliced engines.\n"
       "// Each SBoxN takes the six input bits x1..x6 (x1 the most significant: row =\n"
       "// x1x6, column = x2x3x4x5) and XORs the four output bits into o1..o4 (o1 the\n"
       "// most significant). SBoxNGates2 uses And, Or, Xor, AndNot(a, b) = ~a & b and Not;\n"
       "// SBoxNGates3 adds three-input gates, G::Lut<imm>(a, b, c) = bit\n"
       "// ((a << 2) | (b << 1) | c) of imm, as vpternlog computes it.\n"
       "//\n"
       "// Gates per S-box, counting the XORs into the outputs:\n";
  std::array<int, 8> c2{}, c3{};
  for (int b = 0; b < 8; ++b) {
    c2[b] = Count(boxes[b].gates2, false).with_outputs;
    c3[b] = Count(boxes[b].gates3, true).with_outputs;
  }
  h << "//   two-input:  ";
  for (int b = 0; b < 8; ++b) h << " " << c2[b];
  h << "\n//   three-input:";
  for (int b = 0; b < 8; ++b) h << " " << c3[b];
  h << "\n//\n// Written by these runs in turn (from the repository root, each reading the\n"
       "// header the one before wrote):\n";
  // Each command on lines of at most 110 columns, the later ones indented.
  for (const std::string &c : commands) {
    std::istringstream words(c);
    std::string line = "//  ", word;
    while (words >> word) {
      if (line.size() + 1 + word.size() > 110) {
        h << line << "\n";
        line = "//      ";
      }
      line += ' ';
      line += word;
    }
    h << line << "\n";
  }
  h << "// One S-box alone: the same with --box N (prints its counts, writes nothing).";
  h << "\n#pragma once\n\nnamespace compatcrypt::des::circuits {\n\n";
  h << "// clang-format off\n";
  auto list = [&](const std::array<int, 8> &c) {
    std::string s;
    for (int b = 0; b < 8; ++b) s += (b ? ", " : "") + std::to_string(c[b]);
    return s;
  };
  h << "inline constexpr int kGates2[8] = {" << list(c2) << "};\n";
  h << "inline constexpr int kGates3[8] = {" << list(c3) << "};\n";
  for (int b = 0; b < 8; ++b) {
    for (int set = 2; set <= 3; ++set) {
      const Netlist &net = set == 2 ? boxes[b].gates2 : boxes[b].gates3;
      h << "\ntemplate <class G, class V>\ninline void SBox" << b + 1 << "Gates" << set
        << "(V x1, V x2, V x3, V x4, V x5, V x6, V &o1, V &o2, V &o3, V &o4) {\n";
      const std::string &body = set == 2 ? boxes[b].body2 : boxes[b].body3;
      h << (body.empty() ? Writer(net, set == 3).Body() : body) << "}\n";
    }
  }
  h << "\n// clang-format on\n\n}  // namespace compatcrypt::des::circuits\n";
  return h.str();
}

}  // namespace sbox_search
