#include "exact.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "fit.h"

namespace sbox_search {
namespace {

// The encoding: gate i has three slots, each selecting one earlier signal
// (sel), whose value on each cared-for row is y; the gate's value x on a
// row is its function f at (y0, y1, y2). The last gate's value is the
// target itself, so only the rows in the care set appear at all.
class Encoder {
 public:
  // With m2 nonzero, some gate (o2 selects which) also equals t2 on m2.
  Encoder(const Netlist &net, TruthTable t, TruthTable m, int k, bool last_two, int arity, TruthTable t2 = 0,
          TruthTable m2 = 0)
      : net_(net), t_(t), k_(k), base_(net.size), arity_(arity), combos_(1 << arity), second_(m2 != 0) {
    for (int r = 0; r < 64; ++r)
      if (((m | m2) >> r) & 1) rows_.push_back(r);
    const int rows = static_cast<int>(rows_.size());
    for (int i = 0; i < k; ++i) {
      sel_.emplace_back();
      y_.emplace_back();
      for (int s = 0; s < arity_; ++s) {
        sel_[i].push_back(NewVars(base_ + i));
        y_[i].push_back(NewVars(rows));
      }
      f_.push_back(NewVars(combos_));
      x_.push_back(i + 1 < k || second_ ? NewVars(rows) : -1);
    }
    if (second_) {
      o2_ = NewVars(k);
      std::vector<int> any;
      for (int i = 0; i < k; ++i) any.push_back(o2_ + i);
      Clause(any);
      for (int r = 0; r < rows; ++r) {
        const int x = x_[k - 1] + r;
        if ((m >> rows_[r]) & 1) Clause({((t >> rows_[r]) & 1) ? x : -x});
        if (!((m2 >> rows_[r]) & 1)) continue;
        for (int i = 0; i < k; ++i) Clause({-(o2_ + i), ((t2 >> rows_[r]) & 1) ? x_[i] + r : -(x_[i] + r)});
      }
    }
    for (int i = 0; i < k; ++i) Gate(i, last_two && i + 1 == k);
    if (arity_ == 2)  // And, Or, Xor and AndNot either way round alone
      for (int i = 0; i < k; ++i)
        for (int func = 0; func < 16; ++func) {
          if (func == 8 || func == 14 || func == 6 || func == 2 || func == 4) continue;
          std::vector<int> c;
          for (int p = 0; p < 4; ++p) c.push_back(((func >> p) & 1) ? -F(i, p) : F(i, p));
          Clause(c);
        }
    if (last_two && arity_ == 3)  // the function ignores slot 0
      for (int p = 0; p < 4; ++p) {
        Clause({-F(k - 1, p), F(k - 1, p | 4)});
        Clause({F(k - 1, p), -F(k - 1, p | 4)});
      }
    // Every gate but the last feeds a later one (or is the second target).
    for (int i = 0; i + 1 < k; ++i) {
      std::vector<int> c;
      if (second_) c.push_back(o2_ + i);
      for (int q = i + 1; q < k; ++q)
        for (int s = 0; s < arity_; ++s) c.push_back(Sel(q, s, base_ + i));
      Clause(c);
    }
  }

  int Vars() const { return vars_; }
  // The gate the solver chose for the second target.
  int Second(const std::vector<char> &value) const {
    for (int i = 0; i < k_; ++i)
      if (value[o2_ + i]) return i;
    return k_ - 1;
  }

  std::string Dimacs() const {
    std::ostringstream o;
    o << "p cnf " << vars_ << " " << clauses_ << "\n" << text_.str();
    return o.str();
  }

  // The gates from a satisfying assignment (value[v] for variable v).
  void Extract(const std::vector<char> &value, Netlist &net) const {
    for (int i = 0; i < k_; ++i) {
      sbox_search::Gate g;
      g.arity = arity_;
      for (int s = 0; s < arity_; ++s) {
        g.in[s] = 0;
        for (int j = 0; j < base_ + i; ++j)
          if (value[Sel(i, s, j)]) {
            g.in[s] = j;
            break;
          }
      }
      g.func = 0;
      for (int p = 0; p < combos_; ++p)
        if (value[F(i, p)]) g.func = static_cast<uint8_t>(g.func | (1u << p));
      if (arity_ == 3) {  // the same function on the inputs it depends on
        const TruthTable v = Evaluate(g, net.tt.data());
        const Fit fit = FitFunction(net.tt.data(), g.in.data(), 3, v, kAll);
        if (fit.ok && fit.arity >= 1) g = fit.ToGate(0);
      }
      net.gate[net.size] = g;
      net.tt[net.size] = Evaluate(g, net.tt.data());
      ++net.size;
    }
  }

 private:
  int NewVars(int n) {
    const int first = vars_ + 1;
    vars_ += n;
    return first;
  }
  int Sel(int i, int s, int j) const { return sel_[i][s] + j; }
  int Y(int i, int s, int r) const { return y_[i][s] + r; }
  int F(int i, int p) const { return f_[i] + p; }

  void Clause(const std::vector<int> &lits) {
    for (int l : lits) text_ << l << " ";
    text_ << "0\n";
    ++clauses_;
  }

  void Gate(int i, bool two) {
    const int rows = static_cast<int>(rows_.size());
    const int signals = base_ + i;
    for (int s = 0; s < arity_; ++s) {
      std::vector<int> any;
      for (int j = 0; j < signals; ++j) any.push_back(Sel(i, s, j));
      Clause(any);
      // Slots in increasing order of signal, to cut symmetric answers (the
      // slot a two-input last gate ignores may repeat the next).
      if (s > 0)
        for (int j = 0; j < signals; ++j) {
          std::vector<int> c = {-Sel(i, s, j)};
          for (int q = 0; q < j + (two && s == 1); ++q) c.push_back(Sel(i, s - 1, q));
          Clause(c);
        }
      // The function depends on every slot (but the ignored one): some pair
      // of entries that differ in this slot's bit differs in value.
      if (!(two && s == 0)) {
        std::vector<int> any_pair;
        const int bit = (combos_ / 2) >> s;
        for (int p = 0; p < combos_; ++p) {
          if (p & bit) continue;
          const int a = NewVars(1);
          Clause({-a, F(i, p), F(i, p | bit)});
          Clause({-a, -F(i, p), -F(i, p | bit)});
          any_pair.push_back(a);
        }
        Clause(any_pair);
      }
      for (int j = 0; j < signals; ++j)
        for (int r = 0; r < rows; ++r) {
          if (j < base_) {
            const bool v = (net_.tt[j] >> rows_[r]) & 1;
            Clause({-Sel(i, s, j), v ? Y(i, s, r) : -Y(i, s, r)});
          } else {
            const int x = x_[j - base_] + r;
            Clause({-Sel(i, s, j), -x, Y(i, s, r)});
            Clause({-Sel(i, s, j), x, -Y(i, s, r)});
          }
        }
    }
    for (int r = 0; r < rows; ++r)
      for (int p = 0; p < combos_; ++p) {
        std::vector<int> c;
        for (int s = 0; s < arity_; ++s)
          c.push_back(((p >> (arity_ - 1 - s)) & 1) ? -Y(i, s, r) : Y(i, s, r));
        if (i + 1 == k_ && !second_) {
          c.push_back(((t_ >> rows_[r]) & 1) ? F(i, p) : -F(i, p));
          Clause(c);
          continue;
        }
        const int x = x_[i] + r;
        std::vector<int> c1 = c, c2 = c;
        c1.push_back(-F(i, p));
        c1.push_back(x);
        c2.push_back(F(i, p));
        c2.push_back(-x);
        Clause(c1);
        Clause(c2);
      }
  }

  const Netlist &net_;
  TruthTable t_;
  int k_, base_, arity_, combos_;
  bool second_;
  int o2_ = 0;
  std::vector<int> rows_;
  std::vector<std::vector<int>> sel_, y_;
  std::vector<int> f_, x_;
  int vars_ = 0;
  long clauses_ = 0;
  std::ostringstream text_;
};

}  // namespace

namespace {

int Solve(Netlist &net, TruthTable t, TruthTable m, TruthTable t2, TruthTable m2, int k, bool last_two,
          const ExactParams &p, int *lit2) {
  if (k < 1 || net.size + k > kMaxSignals) return kNoLit;
  const Encoder enc(net, t, m, k, last_two, p.arity, t2, m2);
  // A fresh file of our own (mkstemp), not a guessable name in a shared
  // directory.
  std::error_code error;
  const std::filesystem::path dir = std::filesystem::temp_directory_path(error);
  std::string name = (dir / "compatcrypt_sbox_XXXXXX").string();
  const int fd = error ? -1 : mkstemp(name.data());
  if (fd < 0) {
    std::fprintf(stderr, "exact synthesis: cannot create a file in the temporary directory %s\n",
                 error ? "(TMPDIR names none)" : dir.c_str());
    std::exit(1);
  }
  const std::filesystem::path file = name;
  // A file that cannot be written stops the run: taken as "no gates" it
  // would pass for a result.
  FILE *out = fdopen(fd, "w");
  const std::string text = enc.Dimacs();
  const bool written = out && fwrite(text.data(), 1, text.size(), out) == text.size();
  if (!out) close(fd);
  if ((out && fclose(out) != 0) || !written) {
    std::filesystem::remove(file);
    std::fprintf(stderr, "exact synthesis: cannot write %s\n", file.c_str());
    std::exit(1);
  }
  const std::string command = p.solver + " -q -c " + std::to_string(p.conflicts) +
                              " --seed=" + std::to_string(p.seed % 2000000000) + " '" + file.string() + "'";
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) {
    std::filesystem::remove(file);
    return kNoLit;
  }
  std::string output;
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) output.append(buf, n);
  const int status = pclose(pipe);
  std::filesystem::remove(file);
  // An answer is an "s" line, or "UNKNOWN" at the conflict limit; neither
  // means the solver did not run.
  if (output.find("s ") == std::string::npos && output.find("UNKNOWN") == std::string::npos) {
    std::fprintf(stderr, "exact synthesis: `%s` gave no answer (status %d); is %s installed?\n",
                 command.c_str(), status, p.solver.c_str());
    std::exit(1);
  }

  std::istringstream in(output);
  std::string line;
  bool sat = false;
  std::vector<char> value;
  while (std::getline(in, line)) {
    if (line.rfind("s SATISFIABLE", 0) == 0) sat = true;
    if (line.rfind("v ", 0) != 0) continue;
    std::istringstream vs(line.substr(2));
    for (long lit; vs >> lit;) {
      const long v = lit < 0 ? -lit : lit;
      if (v == 0) continue;
      if (static_cast<long>(value.size()) <= v) value.resize(static_cast<size_t>(v) + 1, 0);
      value[static_cast<size_t>(v)] = lit > 0;
    }
  }
  if (!sat) return kNoLit;
  value.resize(static_cast<size_t>(enc.Vars()) + 1, 0);  // variables the solver left out are 0
  Netlist grown = net;
  enc.Extract(value, grown);
  const int last = grown.size - 1;
  const int second = net.size + enc.Second(value);
  if (((grown.tt[last] ^ t) & m) != 0 || ((grown.tt[second] ^ t2) & m2) != 0) {
    std::fprintf(stderr, "exact synthesis: the solver's answer does not compute the target\n");
    return kNoLit;
  }
  if (lit2) *lit2 = 2 * second;
  net = grown;
  return 2 * last;
}

}  // namespace

int ExactExtend(Netlist &net, TruthTable t, TruthTable m, int k, bool last_two, const ExactParams &p) {
  return Solve(net, t, m, 0, 0, k, last_two, p, nullptr);
}

int ExactExtend2(Netlist &net, TruthTable t, TruthTable m, TruthTable t2, TruthTable m2, int k,
                 const ExactParams &p, int &lit2) {
  return Solve(net, t, m, t2, m2, k, false, p, &lit2);
}

}  // namespace sbox_search
