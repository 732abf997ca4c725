// Builds the Boolean circuits of the eight DES S-boxes from SBoxTable and prints them as
// des_crypt/sbox_circuits.h. Not part of the product; rerun it only to change the circuits:
//
//   cmake --build build --target sbox_circuit_generator
//   build/des_crypt/sbox_circuit_generator > des_crypt/sbox_circuits.h
//
// It is deterministic (fixed seeds, no std:: distributions) and takes a few minutes on one core.
//
// What a circuit computes: for S-box k with inputs x0..x5 (FIPS 46-3 b1..b6, after the key
// addition) and the four bits l0..l3 of the left half that its outputs go to, the new left-half
// bits l_m ^ y_m (y0 the most significant output bit). Folding the XOR into the circuit lets a
// three-input gate absorb it.
//
// Two gate sets, one circuit family each:
//   two-input    AND, OR, XOR and ANDNOT (a & ~b): one instruction each in SSE2 and AVX2 (pand,
//                por, pxor, pandn), and a constant all-ones node for the rare NOT.
//   three-input  any function of three inputs: one AVX-512 vpternlog, whose 8-bit immediate is the
//                gate's truth table.
//
// How they are found. Every function of the six inputs is a 64-bit truth table (bit v is the value
// on input v), so a gate is evaluated on all inputs at once, and a partial target is a table plus
// a care mask. A circuit is built top-down for the four outputs together:
//   1. Cheap matches first, for every open target: a node that already agrees with it on its care
//      set, else one gate over any two (or three) existing nodes, else, with two-input gates, two
//      gates (every final gate over a new gate and an existing node).
//   2. Otherwise all open targets are split on the same input variable (the next one, in an order
//      drawn for each attempt, that one of them depends on): first the half where it is 0 (or 1),
//      all targets jointly, so that they share the gates built there. Then the other half, as a
//      residual that one combining step turns into the target: with two-input gates
//      f = a OP (x AND b) with OP one of XOR, OR, ANDNOT, whichever leaves the most don't-cares
//      for b; with three-input gates f = LUT(x, a, b), where every region of (x, a) on which f
//      is constant becomes a don't-care for b.
// Many such attempts are made. The best is then minimised by rip-up and re-synthesis: drop the
// gates that only one or two randomly chosen outputs need, build those outputs again from the
// remaining gates, and keep the new circuit whenever it is not larger (equal ones too, so the
// search can walk across plateaus). Unused gates are removed throughout. Last, each output's XOR
// into the left half is folded into its final gate where that is a three-input gate with an
// operand to spare, and otherwise appended.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "des_crypt/des_crypt_internal.h"

namespace {

using Table = std::uint64_t;
constexpr Table kAll = ~Table{0};

// Gate functions as three-input truth tables: bit 4a + 2b + c is the value on (a, b, c). A
// two-input gate ignores c.
constexpr unsigned kAnd = 0xC0, kOr = 0xFC, kXor = 0x3C, kAndNot = 0x30;

// Nodes 0 to 5 are the inputs, 6 is all ones, 7 to 10 are l0 to l3; gates follow.
constexpr int kOnes = 6, kFirstLeft = 7, kFirstGate = 11;

Table InputTable(int j) {
  Table t = 0;
  for (unsigned v = 0; v < 64; ++v)
    if (v >> (5 - j) & 1) t |= Table{1} << v;
  return t;
}

Table OutputTable(int box, int m) {
  Table t = 0;
  for (unsigned v = 0; v < 64; ++v) {
    const unsigned row = (v >> 4 & 2) | (v & 1), column = v >> 1 & 15;
    if (des_crypt::internal::SBoxTable[64u * static_cast<unsigned>(box) + 16 * row + column] >> (3 - m) & 1)
      t |= Table{1} << v;
  }
  return t;
}

Table Apply(unsigned function, Table a, Table b, Table c) {
  Table r = 0;
  for (unsigned p = 0; p < 8; ++p)
    if (function >> p & 1) r |= (p & 4 ? a : ~a) & (p & 2 ? b : ~b) & (p & 1 ? c : ~c);
  return r;
}

// Random numbers whose sequence the C++ standard fixes, so that every platform prints the same.
class Random {
 public:
  explicit Random(unsigned seed) : engine_(seed) {}
  unsigned Below(std::size_t n) { return static_cast<unsigned>(engine_() % n); }
  bool Coin() { return (engine_() & 1) != 0; }
  template <typename T>
  void Shuffle(std::vector<T>& v) {
    for (std::size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[Below(i)]);
  }

 private:
  std::mt19937 engine_;
};

struct Gate {
  unsigned function;
  int a, b, c;
};

struct Circuit {
  std::vector<Gate> gates;
  std::array<int, 4> outputs{};
};

class Builder {
 public:
  Builder(bool three_input, Random& random, const std::vector<Gate>& kept = {})
      : three_input_(three_input), random_(random) {
    for (int j = 0; j < 6; ++j) value_.push_back(InputTable(j));
    value_.push_back(kAll);
    for (int m = 0; m < 4; ++m) value_.push_back(0);  // l0 to l3: no use before the final step
    for (const Gate& g : kept) Add(g.function, g.a, g.b, g.c);
  }

  // Nodes computing targets[i] wherever cares[i] has a 1, all cares within one subcube.
  std::vector<int> Build(const std::vector<Table>& targets, const std::vector<Table>& cares,
                         const std::vector<int>& order) {
    const std::size_t n = targets.size();
    std::vector<int> result(n, -1);
    ResolveCheap(targets, cares, result);
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i < n; ++i)
      if (result[i] < 0) open.push_back(i);
    if (open.empty()) return result;

    const int split = SplitVariable(targets, cares, open, order);
    const Table x = value_[static_cast<std::size_t>(split)];
    const bool zero_first = random_.Coin();
    const Table first = zero_first ? ~x : x;

    std::vector<Table> half_targets, half_cares;
    for (const std::size_t i : open) {
      half_targets.push_back(targets[i]);
      half_cares.push_back(cares[i] & first);
    }
    const std::vector<int> a = Build(half_targets, half_cares, order);

    // The second half: a residual for each target still open, and how it combines.
    half_targets.clear();
    half_cares.clear();
    std::vector<std::size_t> pending;
    std::vector<unsigned> combine;
    for (std::size_t k = 0; k < open.size(); ++k) {
      const std::size_t i = open[k];
      const Table t = targets[i], care = cares[i];
      if (const int e = Existing(t, care); e >= 0) {
        result[i] = e;
        continue;
      }
      if (const int g = OneGate(t, care); g >= 0) {
        result[i] = g;
        continue;
      }
      const Table av = value_[static_cast<std::size_t>(a[k])], second = care & ~first;
      if (three_input_) {
        Table free = 0;
        for (const Table region : {~av, av}) {
          const Table r = second & region;
          if ((r & t) == 0 || (r & ~t) == 0) free |= region;
        }
        half_targets.push_back(random_.Coin() ? t ^ av : t);
        half_cares.push_back(second & ~free);
        combine.push_back(0);
      } else {
        struct Option {
          Table target, care;
          unsigned op;
        };
        std::vector<Option> options = {{t ^ av, second, kXor}};
        if ((second & av & ~t) == 0) options.push_back({t, second & ~av, kOr});
        if ((second & ~av & t) == 0) options.push_back({~t, second & av, kAndNot});
        std::size_t pick = 0;
        for (std::size_t q = 1; q < options.size(); ++q) {
          const int fewer = std::popcount(options[pick].care) - std::popcount(options[q].care);
          if (fewer > 0 || (fewer == 0 && random_.Coin())) pick = q;
        }
        half_targets.push_back(options[pick].target);
        half_cares.push_back(options[pick].care);
        combine.push_back(options[pick].op);
      }
      pending.push_back(k);
    }
    const std::vector<int> b = Build(half_targets, half_cares, order);
    for (std::size_t q = 0; q < pending.size(); ++q) {
      const std::size_t k = pending[q], i = open[k];
      if (const int e = Existing(targets[i], cares[i]); e >= 0) {
        result[i] = e;
      } else if (three_input_) {
        result[i] = Fit(targets[i], cares[i], split, a[k], b[q]);
      } else {
        const int masked = zero_first ? Add(kAnd, split, b[q], b[q]) : Add(kAndNot, b[q], split, split);
        result[i] = Add(combine[q], a[k], masked, masked);
      }
    }
    return result;
  }

  const std::vector<Gate>& gates() const { return gates_; }
  Table value(int node) const { return value_[static_cast<std::size_t>(node)]; }

 private:
  int Add(unsigned function, int a, int b, int c) {
    gates_.push_back({function, a, b, c});
    value_.push_back(Apply(function, value(a), value(b), value(c)));
    return static_cast<int>(value_.size()) - 1;
  }

  // The left-half bits only enter at the end; the all-ones node only serves gates without NOT.
  bool Usable(int node) const { return node < kOnes || node >= kFirstGate || (node == kOnes && !three_input_); }

  int Existing(Table t, Table care) const {
    for (int i = 0; i < static_cast<int>(value_.size()); ++i)
      if (Usable(i) && ((value(i) ^ t) & care) == 0) return i;
    return -1;
  }

  // The truth table of a gate over (a, b, c) that matches t on care, if there is one.
  int Fit(Table t, Table care, int a, int b, int c) {
    unsigned ones = 0, zeros = 0;
    for (unsigned p = 0; p < 8; ++p) {
      const Table m = (p & 4 ? value(a) : ~value(a)) & (p & 2 ? value(b) : ~value(b)) &
                      (p & 1 ? value(c) : ~value(c)) & care;
      if ((m & t) != 0) ones |= 1u << p;
      if ((m & ~t) != 0) zeros |= 1u << p;
    }
    if ((ones & zeros) != 0) return -1;
    if (three_input_) return Add(ones, a, b, c);
    for (const unsigned f : {kAnd, kOr, kXor, kAndNot})
      if ((f & ones) == ones && (f & zeros) == 0) return Add(f, a, b, c);
    return -1;
  }

  // A two-input gate over existing nodes. Each gate type needs its operands to cover or avoid
  // the target's ones or zeros, which narrows the candidates before any pair is tried.
  int TwoInputGate(Table t, Table care) {
    const Table on = t & care, off = ~t & care;
    std::vector<int> covers_on, avoids_on, avoids_off, all;
    for (int i = 0; i < static_cast<int>(value_.size()); ++i) {
      if (!Usable(i)) continue;
      const Table v = value(i);
      if ((on & ~v) == 0) covers_on.push_back(i);
      if ((on & v) == 0) avoids_on.push_back(i);
      if ((off & v) == 0) avoids_off.push_back(i);
      all.push_back(i);
    }
    for (std::size_t i = 0; i < covers_on.size(); ++i)
      for (std::size_t j = i + 1; j < covers_on.size(); ++j)
        if ((value(covers_on[i]) & value(covers_on[j]) & off) == 0) return Add(kAnd, covers_on[i], covers_on[j], covers_on[j]);
    for (std::size_t i = 0; i < avoids_off.size(); ++i)
      for (std::size_t j = i + 1; j < avoids_off.size(); ++j)
        if ((on & ~(value(avoids_off[i]) | value(avoids_off[j]))) == 0) return Add(kOr, avoids_off[i], avoids_off[j], avoids_off[j]);
    for (const int a : covers_on)
      for (const int b : avoids_on)
        if ((value(a) & ~value(b) & off) == 0) return Add(kAndNot, a, b, b);
    for (std::size_t i = 0; i < all.size(); ++i)
      for (std::size_t j = i + 1; j < all.size(); ++j)
        if (((value(all[i]) ^ value(all[j]) ^ t) & care) == 0) return Add(kXor, all[i], all[j], all[j]);
    return -1;
  }

  // One new gate over existing nodes: pairs first (a two-input gate, c = b), then triples. The
  // search runs over the target's ones and zeros within the care set separately: a gate fits when
  // no pattern of its operands occurs in both.
  int OneGate(Table t, Table care) {
    const Table on = t & care, off = ~t & care;
    const int n = static_cast<int>(value_.size());
    if (!three_input_) return TwoInputGate(t, care);
    for (int a = 0; a < n; ++a) {
      if (!Usable(a)) continue;
      const Table av = value(a);
      for (int b = a + 1; b < n; ++b) {
        if (!Usable(b)) continue;
        const Table bv = value(b);
        unsigned ones = 0, zeros = 0;
        for (unsigned q = 0; q < 4; ++q) {
          const Table m = (q & 2 ? av : ~av) & (q & 1 ? bv : ~bv);
          ones |= static_cast<unsigned>((m & on) != 0) << q;
          zeros |= static_cast<unsigned>((m & off) != 0) << q;
        }
        if ((ones & zeros) != 0) continue;
        unsigned function = 0;  // c = b: entry 4a + 3b
        for (unsigned q = 0; q < 4; ++q) function |= (ones >> q & 1) * (3u << (2 * q));
        return Add(function, a, b, b);
      }
    }
    for (int a = 0; a < n; ++a) {
      if (!Usable(a)) continue;
      for (int b = a + 1; b < n; ++b) {
        if (!Usable(b)) continue;
        std::array<Table, 4> pair_on{}, pair_off{};
        for (unsigned q = 0; q < 4; ++q) {
          const Table m = (q & 2 ? value(a) : ~value(a)) & (q & 1 ? value(b) : ~value(b));
          pair_on[q] = m & on;
          pair_off[q] = m & off;
        }
        for (int c = b + 1; c < n; ++c) {
          if (!Usable(c)) continue;
          const Table cv = value(c);
          unsigned ones = 0;
          bool fits = true;
          for (unsigned q = 0; q < 4 && fits; ++q) {
            const Table on1 = pair_on[q] & cv, off1 = pair_off[q] & cv;
            const Table on0 = pair_on[q] & ~cv, off0 = pair_off[q] & ~cv;
            fits = ((on1 != 0) + (off1 != 0) < 2) && ((on0 != 0) + (off0 != 0) < 2);
            ones |= static_cast<unsigned>(on0 != 0) << (2 * q) | static_cast<unsigned>(on1 != 0) << (2 * q + 1);
          }
          if (fits) return Add(ones, a, b, c);
        }
      }
    }
    return -1;
  }

  // Two new two-input gates: a final gate over a new gate and an existing node d.
  int TwoGates(Table t, Table care) {
    const int n = static_cast<int>(value_.size());
    for (int d = 0; d < n; ++d) {
      if (!Usable(d)) continue;
      const Table dv = value(d);
      struct Try {
        bool possible;
        Table target, care;
        unsigned function;
        bool new_first;
      };
      const Try tries[] = {
          {(t & care & ~dv) == 0, t, care & dv, kAnd, true},
          {(~t & care & dv) == 0, t, care & ~dv, kOr, true},
          {true, t ^ dv, care, kXor, true},
          {(t & care & dv) == 0, t, care & ~dv, kAndNot, true},
          {(t & care & ~dv) == 0, ~t, care & dv, kAndNot, false},
      };
      for (const Try& x : tries) {
        if (!x.possible) continue;
        const int g = OneGate(x.target, x.care);
        if (g < 0) continue;
        return x.new_first ? Add(x.function, g, d, d) : Add(x.function, d, g, g);
      }
    }
    return -1;
  }

  void ResolveCheap(const std::vector<Table>& targets, const std::vector<Table>& cares, std::vector<int>& result) {
    for (bool progress = true; progress;) {
      progress = false;
      for (std::size_t i = 0; i < targets.size(); ++i) {
        if (result[i] >= 0) continue;
        int node = cares[i] == 0 ? 0 : Existing(targets[i], cares[i]);
        if (node < 0) node = OneGate(targets[i], cares[i]);
        if (node >= 0) {
          result[i] = node;
          progress = true;
        }
      }
      if (progress || three_input_) continue;
      for (std::size_t i = 0; i < targets.size() && !progress; ++i)
        if (result[i] < 0 && (result[i] = TwoGates(targets[i], cares[i])) >= 0) progress = true;
    }
  }

  bool DependsOn(Table t, Table care, int j) const {
    const Table x = value(j);
    const int shift = 1 << (5 - j);
    return (((t & ~x) ^ ((t & x) >> shift)) & care & ~x & ((care & x) >> shift)) != 0;
  }

  int SplitVariable(const std::vector<Table>& targets, const std::vector<Table>& cares,
                    const std::vector<std::size_t>& open, const std::vector<int>& order) const {
    for (const int j : order)
      for (const std::size_t i : open)
        if (DependsOn(targets[i], cares[i], j)) return j;
    // Constant on its care set but no node matches: any variable that splits the set will do.
    for (const int j : order)
      for (const std::size_t i : open)
        if ((cares[i] & value(j)) != 0 && (cares[i] & ~value(j)) != 0) return j;
    return order[0];
  }

  bool three_input_;
  Random& random_;
  std::vector<Table> value_;
  std::vector<Gate> gates_;
};

// The gates that outputs lead to, renumbered in order; the rest are dropped.
Circuit Prune(const std::vector<Gate>& gates, const std::array<int, 4>& outputs) {
  std::vector<bool> live(kFirstGate + gates.size(), false);
  for (const int o : outputs) live[static_cast<std::size_t>(o)] = true;
  for (std::size_t g = gates.size(); g-- > 0;)
    if (live[kFirstGate + g])
      live[static_cast<std::size_t>(gates[g].a)] = live[static_cast<std::size_t>(gates[g].b)] =
          live[static_cast<std::size_t>(gates[g].c)] = true;
  std::vector<int> renumber(live.size());
  for (int i = 0; i < kFirstGate; ++i) renumber[static_cast<std::size_t>(i)] = i;
  Circuit pruned;
  for (std::size_t g = 0; g < gates.size(); ++g) {
    if (!live[kFirstGate + g]) continue;
    Gate gate = gates[g];
    for (int* operand : {&gate.a, &gate.b, &gate.c}) *operand = renumber[static_cast<std::size_t>(*operand)];
    renumber[kFirstGate + g] = kFirstGate + static_cast<int>(pruned.gates.size());
    pruned.gates.push_back(gate);
  }
  for (std::size_t m = 0; m < 4; ++m) pruned.outputs[m] = renumber[static_cast<std::size_t>(outputs[m])];
  return pruned;
}

std::vector<int> RandomOrder(Random& random) {
  std::vector<int> order = {0, 1, 2, 3, 4, 5};
  random.Shuffle(order);
  return order;
}

// Builds the outputs in `redo` anew beside the gates that the other outputs of `circuit` need.
Circuit Rebuild(const Circuit& circuit, const std::vector<int>& redo, int box, bool three_input, Random& random) {
  std::array<int, 4> keep_outputs = circuit.outputs;
  for (const int m : redo) keep_outputs[static_cast<std::size_t>(m)] = 0;
  const Circuit kept = Prune(circuit.gates, keep_outputs);
  Builder builder(three_input, random, kept.gates);
  std::vector<Table> targets, cares;
  for (const int m : redo) {
    targets.push_back(OutputTable(box, m));
    cares.push_back(kAll);
  }
  const std::vector<int> built = builder.Build(targets, cares, RandomOrder(random));
  std::array<int, 4> outputs = kept.outputs;
  for (std::size_t i = 0; i < redo.size(); ++i) outputs[static_cast<std::size_t>(redo[i])] = built[i];
  return Prune(builder.gates(), outputs);
}

// The XOR of each output into its left-half bit, folded into the output's gate where possible.
// A gate qualifies if it is three-input, has only two operands and nothing else uses it.
Circuit FoldLeft(Circuit circuit, bool three_input) {
  std::vector<int> uses(kFirstGate + circuit.gates.size(), 0);
  for (const Gate& g : circuit.gates)
    for (const int operand : {g.a, g.b, g.c}) ++uses[static_cast<std::size_t>(operand)];
  for (const int o : circuit.outputs) ++uses[static_cast<std::size_t>(o)];
  for (std::size_t m = 0; m < 4; ++m) {
    const int o = circuit.outputs[m], left = kFirstLeft + static_cast<int>(m);
    Gate* g = o >= kFirstGate ? &circuit.gates[static_cast<std::size_t>(o - kFirstGate)] : nullptr;
    if (three_input && g != nullptr && g->b == g->c && uses[static_cast<std::size_t>(o)] == 1) {
      // c becomes the left bit: f(a, b) ^ c, with f read where b == c.
      unsigned function = 0;
      for (unsigned p = 0; p < 8; ++p) {
        const unsigned fab = g->function >> ((p & 6) | (p >> 1 & 1)) & 1;
        function |= (fab ^ (p & 1)) << p;
      }
      *g = {function, g->a, g->b, left};
    } else {
      circuit.gates.push_back({kXor, o, left, left});
      circuit.outputs[m] = kFirstGate + static_cast<int>(circuit.gates.size()) - 1;
    }
  }
  return circuit;
}

bool Computes(const Circuit& circuit, int box) {
  std::vector<Table> value;
  for (int j = 0; j < 6; ++j) value.push_back(InputTable(j));
  value.push_back(kAll);
  for (int m = 0; m < 4; ++m) value.push_back(Table{0x123456789abcdef} * static_cast<Table>(m + 3));
  for (const Gate& g : circuit.gates)
    value.push_back(Apply(g.function, value[static_cast<std::size_t>(g.a)], value[static_cast<std::size_t>(g.b)],
                          value[static_cast<std::size_t>(g.c)]));
  for (int m = 0; m < 4; ++m)
    if (value[static_cast<std::size_t>(circuit.outputs[static_cast<std::size_t>(m)])] !=
        (OutputTable(box, m) ^ value[static_cast<std::size_t>(kFirstLeft + m)]))
      return false;
  return true;
}

std::size_t Cost(const Circuit& circuit, bool three_input) { return FoldLeft(circuit, three_input).gates.size(); }

Circuit Search(int box, bool three_input, int attempts, int rebuilds) {
  Random random(static_cast<unsigned>(7919 * box + (three_input ? 1 : 0)));
  Circuit best;
  std::size_t best_cost = SIZE_MAX;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    Builder builder(three_input, random);
    std::vector<Table> targets, cares;
    for (int m = 0; m < 4; ++m) {
      targets.push_back(OutputTable(box, m));
      cares.push_back(kAll);
    }
    const std::vector<int> built = builder.Build(targets, cares, RandomOrder(random));
    const Circuit circuit = Prune(builder.gates(), {built[0], built[1], built[2], built[3]});
    if (const std::size_t cost = Cost(circuit, three_input); cost < best_cost) {
      best = circuit;
      best_cost = cost;
    }
  }
  for (int round = 0; round < rebuilds; ++round) {
    std::vector<int> redo = {0, 1, 2, 3};
    random.Shuffle(redo);
    redo.resize(1 + random.Below(2));
    const Circuit candidate = Rebuild(best, redo, box, three_input, random);
    if (const std::size_t cost = Cost(candidate, three_input); cost <= best_cost) {
      best = candidate;
      best_cost = cost;
    }
  }
  return FoldLeft(best, three_input);
}

void PrintFamily(const char* name, const std::array<Circuit, 8>& circuits) {
  std::printf("inline constexpr std::array<SBoxCircuit, 8> %s = {{\n", name);
  for (const Circuit& c : circuits) {
    std::printf("    {%zu,\n     {%d, %d, %d, %d},\n     {{", c.gates.size(), c.outputs[0], c.outputs[1],
                c.outputs[2], c.outputs[3]);
    for (std::size_t g = 0; g < c.gates.size(); ++g)
      std::printf("%s{0x%02X, %d, %d, %d}", g == 0 ? "" : g % 6 == 0 ? ",\n       " : ", ", c.gates[g].function,
                  c.gates[g].a, c.gates[g].b, c.gates[g].c);
    std::printf("}}},\n");
  }
  std::printf("}};\n");
}

}  // namespace

int main(int argc, char** argv) {
  // Attempts and rebuild rounds per S-box; other budgets can be tried from the command line.
  const int attempts = argc > 1 ? std::atoi(argv[1]) : 200;
  const int rebuilds = argc > 2 ? std::atoi(argv[2]) : 3000;
  std::array<std::array<Circuit, 8>, 2> families;
  std::string counts;
  for (const bool three_input : {false, true}) {
    std::size_t total = 0;
    counts += three_input ? "//   three-input:" : "//   two-input:  ";
    for (int box = 0; box < 8; ++box) {
      Circuit& c = families[three_input ? 1 : 0][static_cast<std::size_t>(box)];
      c = Search(box, three_input, attempts, rebuilds);
      if (!Computes(c, box)) {
        std::fprintf(stderr, "S%d: the circuit found does not compute the S-box\n", box + 1);
        return 1;
      }
      total += c.gates.size();
      counts += " " + std::to_string(c.gates.size());
    }
    counts += ", " + std::to_string(total) + " in all\n";
  }
  std::size_t most = 0;
  for (const auto& family : families)
    for (const Circuit& c : family) most = std::max(most, c.gates.size());

  std::printf(
      "// Generated by des_crypt/sbox_circuit_generator.cpp (%d attempts, %d rebuild rounds per S-box);\n"
      "// do not edit. How the circuits are found, and how to find them again, is told there.\n"
      "//\n"
      "// The eight S-boxes as circuits that compute l_m ^ y_m: S-box output bit y_m (m = 0 the most\n"
      "// significant) XORed into the left-half bit l_m it goes to. Gates per S-box, S1 to S8, the XORs\n"
      "// into the left half included:\n%s"
      "#pragma once\n\n#include <array>\n#include <cstdint>\n\nnamespace des_crypt::internal {\n\n"
      "// Node numbers: 0 to 5 the S-box inputs b1 to b6 (FIPS 46-3), 6 all ones, 7 to 10 the left-half\n"
      "// bits l0 to l3, then the gates in order. A gate's function is its truth table: bit 4a + 2b + c\n"
      "// is its value on operand values a, b, c, as the immediate of AVX-512's vpternlog has it.\n"
      "struct SBoxGate {\n  std::uint8_t function, a, b, c;\n};\n"
      "inline constexpr std::size_t SBoxFirstGate = %d, SBoxMaxGates = %zu;\n"
      "struct SBoxCircuit {\n  std::size_t size;\n  std::array<std::uint8_t, 4> outputs;  // the new l0 to l3\n"
      "  std::array<SBoxGate, SBoxMaxGates> gates;\n};\n\n"
      "// AND 0xC0, OR 0xFC, XOR 0x3C and ANDNOT (a & ~b) 0x30 only.\n",
      attempts, rebuilds, counts.c_str(), kFirstGate, most);
  PrintFamily("TwoInputCircuits", families[0]);
  std::printf("\n// Any function of three operands.\n");
  PrintFamily("ThreeInputCircuits", families[1]);
  std::printf("\n}  // namespace des_crypt::internal\n");
  return 0;
}
