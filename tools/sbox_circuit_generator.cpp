// Builds the Boolean circuits of the eight DES S-boxes from SBoxTable and prints them as
// des_crypt/sbox_circuits.h. Not part of the product; rerun it only to change the circuits:
//
//   cmake --build build --target sbox_circuit_generator
//   build/des_crypt/sbox_circuit_generator > des_crypt/sbox_circuits.h
//
// It is deterministic (fixed seeds, and random numbers drawn without the standard library's
// distributions, whose results differ between libraries) and takes about ten minutes on one core.
//
// What a circuit computes: for S-box k with inputs x0..x5 (FIPS 46-3 b1..b6, after the key
// addition) and the four bits l0..l3 of the left half that its outputs go to, the new left-half
// bits l_m ^ y_m (y0 the most significant output bit). With the XOR in the circuit, a
// three-input gate can absorb it.
//
// Two gate sets, one circuit family each:
//   two-input    AND, OR, XOR and ANDNOT (a & ~b): one instruction each in SSE2 and AVX2 (pand,
//                por, pxor, pandn), and a constant all-ones node for the rare NOT.
//   three-input  any function of three inputs: one AVX-512 vpternlog, whose 8-bit immediate is the
//                gate's truth table.
//
// How they are found. Every function of the six inputs is a 64-bit truth table (bit v is its value
// on input v), so a gate is evaluated on all inputs at once, and a partial target is a table plus
// a care mask.
//   1. Construction, top-down, for the four outputs together. Cheap matches first, for every open
//      target: a node that already agrees with it on its care set, else one gate over any two (or
//      three) existing nodes, else, with two-input gates, two gates (a final gate over a new gate
//      and an existing node). Otherwise all open targets are split on the same input variable
//      (the next one, in an order drawn for each attempt, that one of them depends on): first one
//      half, all targets jointly, so that they share the gates built there; then the other half,
//      as a residual that one combining step turns into the target. With two-input gates that is
//      f = a OP (x AND b), OP being XOR, OR or ANDNOT, whichever leaves the most don't-cares for
//      b; with three-input gates f = LUT(x, a, b), where every region of (x, a) on which f is
//      constant becomes a don't-care for b. For a, any node that matches the first half will do;
//      the one that frees most of the second half is taken.
//   2. Resubstitution with don't-cares, after every construction: each gate is re-expressed over
//      the other nodes (as an existing node, one new gate or, with two-input gates, two) wherever
//      that lets more gates go, those that only it used. It need only match where its value
//      reaches an output, which flipping it on every input and re-evaluating shows.
//   3. Rip-up and rebuild, a local search from the best of many constructions: drop the gates that
//      only one or two randomly chosen outputs need, build those outputs again beside the rest,
//      resubstitute, and keep the circuit whenever it is not larger (equal ones too, so that the
//      search walks across plateaus).
//   4. Each output's XOR into its left-half bit is folded into the output's gate where that is a
//      three-input gate with an operand to spare, and appended otherwise (in the circuits found
//      so far the outputs' gates use all three operands, so every XOR is appended). Last, since
//      vpternlog overwrites its first operand, each three-input gate takes an operand that dies
//      there as its first, which saves the compiler a register copy.
// The cost minimised is the number of gates, the XORs into the left half included; the counts
// reached are in the generated header.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <utility>
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
  for (unsigned p = 0; p < 8; ++p) {
    const Table selected = Table{0} - (function >> p & 1);  // all ones if entry p is 1
    r |= selected & (p & 4 ? a : ~a) & (p & 2 ? b : ~b) & (p & 1 ? c : ~c);
  }
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

// A gate over the candidate nodes that computes t wherever care has a 1, if there is one.
// Two-input gates: each type needs its operands to cover or avoid the target's ones or zeros,
// which narrows the candidates before any pair is tried. Three-input gates: pairs first (c = b),
// then triples; a gate fits when no pattern of its operands occurs among both the target's ones
// and its zeros.
std::optional<Gate> FindGate(const std::vector<Table>& value, const std::vector<int>& candidates, Table t, Table care,
                             bool three_input) {
  const Table on = t & care, off = ~t & care;
  const auto v = [&](int node) { return value[static_cast<std::size_t>(node)]; };
  if (!three_input) {
    std::vector<int> covers_on, avoids_on, avoids_off;
    for (const int i : candidates) {
      if ((on & ~v(i)) == 0) covers_on.push_back(i);
      if ((on & v(i)) == 0) avoids_on.push_back(i);
      if ((off & v(i)) == 0) avoids_off.push_back(i);
    }
    for (std::size_t i = 0; i < covers_on.size(); ++i)
      for (std::size_t j = i + 1; j < covers_on.size(); ++j)
        if ((v(covers_on[i]) & v(covers_on[j]) & off) == 0) return Gate{kAnd, covers_on[i], covers_on[j], covers_on[j]};
    for (std::size_t i = 0; i < avoids_off.size(); ++i)
      for (std::size_t j = i + 1; j < avoids_off.size(); ++j)
        if ((on & ~(v(avoids_off[i]) | v(avoids_off[j]))) == 0)
          return Gate{kOr, avoids_off[i], avoids_off[j], avoids_off[j]};
    for (const int a : covers_on)
      for (const int b : avoids_on)
        if ((v(a) & ~v(b) & off) == 0) return Gate{kAndNot, a, b, b};
    for (std::size_t i = 0; i < candidates.size(); ++i)
      for (std::size_t j = i + 1; j < candidates.size(); ++j)
        if (((v(candidates[i]) ^ v(candidates[j]) ^ t) & care) == 0)
          return Gate{kXor, candidates[i], candidates[j], candidates[j]};
    return std::nullopt;
  }
  for (std::size_t i = 0; i < candidates.size(); ++i)
    for (std::size_t j = i + 1; j < candidates.size(); ++j) {
      const Table av = v(candidates[i]), bv = v(candidates[j]);
      unsigned ones = 0, zeros = 0;
      for (unsigned q = 0; q < 4; ++q) {
        const Table m = (q & 2 ? av : ~av) & (q & 1 ? bv : ~bv);
        ones |= static_cast<unsigned>((m & on) != 0) << q;
        zeros |= static_cast<unsigned>((m & off) != 0) << q;
      }
      if ((ones & zeros) != 0) continue;
      unsigned function = 0;  // with c = b, entry 4a + 3b
      for (unsigned q = 0; q < 4; ++q) function |= (ones >> q & 1) * (3u << (2 * q));
      return Gate{function, candidates[i], candidates[j], candidates[j]};
    }
  for (std::size_t i = 0; i < candidates.size(); ++i)
    for (std::size_t j = i + 1; j < candidates.size(); ++j) {
      std::array<Table, 4> pair_on{}, pair_off{};
      for (unsigned q = 0; q < 4; ++q) {
        const Table m = (q & 2 ? v(candidates[i]) : ~v(candidates[i])) & (q & 1 ? v(candidates[j]) : ~v(candidates[j]));
        pair_on[q] = m & on;
        pair_off[q] = m & off;
      }
      for (std::size_t k = j + 1; k < candidates.size(); ++k) {
        const Table cv = v(candidates[k]);
        unsigned ones = 0;
        bool fits = true;
        for (unsigned q = 0; q < 4 && fits; ++q) {
          const Table on1 = pair_on[q] & cv, off1 = pair_off[q] & cv, on0 = pair_on[q] & ~cv, off0 = pair_off[q] & ~cv;
          fits = (on1 == 0 || off1 == 0) && (on0 == 0 || off0 == 0);
          ones |= static_cast<unsigned>(on0 != 0) << (2 * q) | static_cast<unsigned>(on1 != 0) << (2 * q + 1);
        }
        if (fits) return Gate{ones, candidates[i], candidates[j], candidates[k]};
      }
    }
  return std::nullopt;
}

// Two new two-input gates over the candidates that compute t wherever care has a 1: every
// final gate over an existing node d and a new gate, whose target each gate type derives from t
// and d. The final gate names the new one kNewNode.
constexpr int kNewNode = -1;
std::optional<std::pair<Gate, Gate>> FindTwoGates(const std::vector<Table>& value, const std::vector<int>& candidates,
                                                  Table t, Table care) {
  for (const int d : candidates) {
    const Table dv = value[static_cast<std::size_t>(d)];
    struct Try {
      bool possible;
      Table target, care;
      Gate last;
    };
    const Try tries[] = {
        {(t & care & ~dv) == 0, t, care & dv, {kAnd, kNewNode, d, d}},
        {(~t & care & dv) == 0, t, care & ~dv, {kOr, kNewNode, d, d}},
        {true, t ^ dv, care, {kXor, kNewNode, d, d}},
        {(t & care & dv) == 0, t, care & ~dv, {kAndNot, kNewNode, d, d}},
        {(t & care & ~dv) == 0, ~t, care & dv, {kAndNot, d, kNewNode, kNewNode}},
    };
    for (const Try& x : tries)
      if (x.possible)
        if (const std::optional<Gate> first = FindGate(value, candidates, x.target, x.care, false))
          return std::pair{*first, x.last};
  }
  return std::nullopt;
}

class Builder {
 public:
  Builder(bool three_input, Random& random, const std::vector<Gate>& kept = {})
      : three_input_(three_input), random_(random) {
    for (int j = 0; j < 6; ++j) value_.push_back(InputTable(j));
    value_.push_back(kAll);
    for (int m = 0; m < 4; ++m) value_.push_back(0);  // l0 to l3: no use before the final step
    for (const Gate& g : kept) Add(g.function, g.a, g.b, g.c);
  }

  // Nodes computing targets[i] wherever cares[i] has a 1.
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
    std::vector<int> a = Build(half_targets, half_cares, order);

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
      const Table second = care & ~first;
      a[k] = BestFirstHalf(t, care & first, second, a[k]);
      const Table av = value(a[k]);
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

  // Of the nodes that match t on the first half, the one that leaves the least of the second half
  // to do, counted as the points that the combining step frees.
  int BestFirstHalf(Table t, Table first, Table second, int built) const {
    int best = built, most = -1;
    for (int i = 0; i < static_cast<int>(value_.size()); ++i) {
      if (!Usable(i) || ((value(i) ^ t) & first) != 0) continue;
      const Table v = value(i);
      int freed = 0;
      if (three_input_) {
        for (const Table region : {~v, v}) {
          const Table r = second & region;
          if ((r & t) == 0 || (r & ~t) == 0) freed += std::popcount(r);
        }
      } else {
        if ((second & v & ~t) == 0) freed = std::max(freed, std::popcount(second & v));
        if ((second & ~v & t) == 0) freed = std::max(freed, std::popcount(second & ~v));
      }
      if (freed > most || (freed == most && i == built)) {
        best = i;
        most = freed;
      }
    }
    return best;
  }

  // The left-half bits only enter at the end; the all-ones node only serves gates without NOT.
  bool Usable(int node) const { return node < kOnes || node >= kFirstGate || (node == kOnes && !three_input_); }

  int Existing(Table t, Table care) const {
    for (int i = 0; i < static_cast<int>(value_.size()); ++i)
      if (Usable(i) && ((value(i) ^ t) & care) == 0) return i;
    return -1;
  }

  // The three-input gate over (a, b, c) that matches t on care, if there is one.
  int Fit(Table t, Table care, int a, int b, int c) {
    unsigned ones = 0, zeros = 0;
    for (unsigned p = 0; p < 8; ++p) {
      const Table m = (p & 4 ? value(a) : ~value(a)) & (p & 2 ? value(b) : ~value(b)) &
                      (p & 1 ? value(c) : ~value(c)) & care;
      if ((m & t) != 0) ones |= 1u << p;
      if ((m & ~t) != 0) zeros |= 1u << p;
    }
    return (ones & zeros) == 0 ? Add(ones, a, b, c) : -1;
  }

  std::vector<int> Candidates() const {
    std::vector<int> candidates;
    candidates.reserve(value_.size());
    for (int i = 0; i < static_cast<int>(value_.size()); ++i)
      if (Usable(i)) candidates.push_back(i);
    return candidates;
  }

  // One new gate over existing nodes.
  int OneGate(Table t, Table care) {
    const std::optional<Gate> gate = FindGate(value_, Candidates(), t, care, three_input_);
    return gate ? Add(gate->function, gate->a, gate->b, gate->c) : -1;
  }

  // Two new two-input gates.
  int TwoGates(Table t, Table care) {
    const std::optional<std::pair<Gate, Gate>> gates = FindTwoGates(value_, Candidates(), t, care);
    if (!gates) return -1;
    const int first = Add(gates->first.function, gates->first.a, gates->first.b, gates->first.c);
    const auto operand = [first](int node) { return node == kNewNode ? first : node; };
    return Add(gates->second.function, operand(gates->second.a), operand(gates->second.b), operand(gates->second.c));
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

// The gates that the outputs lead to, each after its operands; the rest are dropped.
Circuit Prune(const std::vector<Gate>& gates, const std::array<int, 4>& outputs) {
  std::vector<int> renumber(kFirstGate + gates.size(), -1);
  for (int i = 0; i < kFirstGate; ++i) renumber[static_cast<std::size_t>(i)] = i;
  Circuit pruned;
  const auto visit = [&](const auto& self, int node) -> int {
    if (renumber[static_cast<std::size_t>(node)] < 0) {
      Gate gate = gates[static_cast<std::size_t>(node - kFirstGate)];
      for (int* operand : {&gate.a, &gate.b, &gate.c}) *operand = self(self, *operand);
      renumber[static_cast<std::size_t>(node)] = kFirstGate + static_cast<int>(pruned.gates.size());
      pruned.gates.push_back(gate);
    }
    return renumber[static_cast<std::size_t>(node)];
  };
  for (std::size_t m = 0; m < 4; ++m) pruned.outputs[m] = visit(visit, outputs[m]);
  return pruned;
}

// The value of every node.
std::vector<Table> Evaluate(const Circuit& circuit, const std::array<Table, 4>& left = {}) {
  std::vector<Table> value(kFirstGate);
  for (int j = 0; j < 6; ++j) value[static_cast<std::size_t>(j)] = InputTable(j);
  value[kOnes] = kAll;
  std::copy(left.begin(), left.end(), value.begin() + kFirstLeft);
  for (const Gate& g : circuit.gates)
    value.push_back(Apply(g.function, value[static_cast<std::size_t>(g.a)], value[static_cast<std::size_t>(g.b)],
                          value[static_cast<std::size_t>(g.c)]));
  return value;
}

// Resubstitution with don't-cares: a gate is re-expressed over the other nodes, as an existing
// node or one new gate, where that lets gates go that only it used. It need only match where its
// value reaches an output: flipping it on every input and re-evaluating what depends on it shows
// where that is.
Circuit Resubstitute(Circuit circuit, bool three_input) {
  for (bool improved = true; improved;) {
    improved = false;
    const std::vector<Table> value = Evaluate(circuit);
    const std::size_t n = circuit.gates.size();
    std::vector<int> uses(kFirstGate + n, 0);
    for (const Gate& g : circuit.gates)
      for (const int operand : {g.a, g.b, g.c}) ++uses[static_cast<std::size_t>(operand)];
    for (const int o : circuit.outputs) ++uses[static_cast<std::size_t>(o)];
    for (std::size_t g = 0; g < n && !improved; ++g) {
      const int node = kFirstGate + static_cast<int>(g);
      // What depends on the gate, and where its value matters.
      std::vector<bool> depends(kFirstGate + n, false);
      depends[static_cast<std::size_t>(node)] = true;
      std::vector<Table> flipped = value;
      flipped[static_cast<std::size_t>(node)] = ~value[static_cast<std::size_t>(node)];
      for (std::size_t h = g + 1; h < n; ++h) {
        const Gate& x = circuit.gates[h];
        if (!depends[static_cast<std::size_t>(x.a)] && !depends[static_cast<std::size_t>(x.b)] &&
            !depends[static_cast<std::size_t>(x.c)])
          continue;
        depends[kFirstGate + h] = true;
        flipped[kFirstGate + h] = Apply(x.function, flipped[static_cast<std::size_t>(x.a)],
                                        flipped[static_cast<std::size_t>(x.b)], flipped[static_cast<std::size_t>(x.c)]);
      }
      Table care = 0;
      for (const int o : circuit.outputs) care |= flipped[static_cast<std::size_t>(o)] ^ value[static_cast<std::size_t>(o)];
      // The gates that would go with it: those whose every use is within that set.
      std::vector<int> left_uses = uses;
      std::vector<bool> goes(kFirstGate + n, false);
      goes[static_cast<std::size_t>(node)] = true;
      std::size_t saved = 0;
      for (std::size_t h = g + 1; h-- > 0;) {
        if (!goes[kFirstGate + h]) continue;
        ++saved;
        for (const int operand : {circuit.gates[h].a, circuit.gates[h].b, circuit.gates[h].c})
          if (operand >= kFirstGate && --left_uses[static_cast<std::size_t>(operand)] == 0)
            goes[static_cast<std::size_t>(operand)] = true;
      }
      std::vector<int> candidates;
      for (int i = 0; i < kFirstGate + static_cast<int>(n); ++i)
        if ((i < kOnes || (i == kOnes && !three_input) || i >= kFirstGate) && !depends[static_cast<std::size_t>(i)] &&
            !goes[static_cast<std::size_t>(i)])
          candidates.push_back(i);
      for (const int i : candidates)
        if (((value[static_cast<std::size_t>(i)] ^ value[static_cast<std::size_t>(node)]) & care) == 0) {
          for (Gate& x : circuit.gates)
            for (int* operand : {&x.a, &x.b, &x.c})
              if (*operand == node) *operand = i;
          for (int& o : circuit.outputs)
            if (o == node) o = i;
          improved = true;
          break;
        }
      const Table target = value[static_cast<std::size_t>(node)];
      if (!improved && saved >= 2)
        if (const std::optional<Gate> gate = FindGate(value, candidates, target, care, three_input)) {
          circuit.gates[g] = *gate;
          improved = true;
        }
      if (!improved && saved >= 3 && !three_input)
        if (const std::optional<std::pair<Gate, Gate>> gates = FindTwoGates(value, candidates, target, care)) {
          // The new gate goes to the end; Prune puts it before its user.
          const int first = kFirstGate + static_cast<int>(circuit.gates.size());
          Gate last = gates->second;
          for (int* operand : {&last.a, &last.b, &last.c})
            if (*operand == kNewNode) *operand = first;
          circuit.gates[g] = last;
          circuit.gates.push_back(gates->first);
          improved = true;
        }
      if (improved) circuit = Prune(circuit.gates, circuit.outputs);
    }
  }
  return circuit;
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

// True if the gate's function does not depend on its operand `slot` (0 a, 1 b, 2 c).
bool Ignores(unsigned function, unsigned slot) {
  const unsigned bit = 4u >> slot;
  for (unsigned p = 0; p < 8; ++p)
    if ((p & bit) == 0 && (function >> p & 1) != (function >> (p | bit) & 1)) return false;
  return true;
}

// The XOR of each output into its left-half bit, folded into the output's gate where possible:
// a three-input gate that nothing else uses and whose function ignores one of its operands takes
// the left bit there. Otherwise an XOR gate is appended.
Circuit FoldLeft(Circuit circuit, bool three_input) {
  std::vector<int> uses(kFirstGate + circuit.gates.size(), 0);
  for (const Gate& g : circuit.gates)
    for (const int operand : {g.a, g.b, g.c}) ++uses[static_cast<std::size_t>(operand)];
  for (const int o : circuit.outputs) ++uses[static_cast<std::size_t>(o)];
  for (std::size_t m = 0; m < 4; ++m) {
    const int o = circuit.outputs[m], left = kFirstLeft + static_cast<int>(m);
    Gate* g = o >= kFirstGate ? &circuit.gates[static_cast<std::size_t>(o - kFirstGate)] : nullptr;
    unsigned slot = 0;
    while (g != nullptr && slot < 3 && !Ignores(g->function, slot)) ++slot;
    if (three_input && g != nullptr && slot < 3 && uses[static_cast<std::size_t>(o)] == 1) {
      unsigned function = 0;
      for (unsigned p = 0; p < 8; ++p) function |= ((g->function >> p & 1) ^ (p >> (2 - slot) & 1)) << p;
      g->function = function;
      (slot == 0 ? g->a : slot == 1 ? g->b : g->c) = left;
    } else {
      circuit.gates.push_back({kXor, o, left, left});
      circuit.outputs[m] = kFirstGate + static_cast<int>(circuit.gates.size()) - 1;
    }
  }
  return circuit;
}

// vpternlog overwrites its first operand, so a gate whose first operand is still needed later
// costs a register copy. Where one of a gate's operands is used for the last time, it goes first.
Circuit LastUseFirst(Circuit circuit) {
  std::vector<std::size_t> last(kFirstGate + circuit.gates.size(), 0);
  for (std::size_t g = 0; g < circuit.gates.size(); ++g)
    for (const int operand : {circuit.gates[g].a, circuit.gates[g].b, circuit.gates[g].c})
      last[static_cast<std::size_t>(operand)] = g;
  for (const int o : circuit.outputs) last[static_cast<std::size_t>(o)] = circuit.gates.size();
  for (std::size_t g = 0; g < circuit.gates.size(); ++g) {
    Gate& gate = circuit.gates[g];
    const std::array<int, 3> operands = {gate.a, gate.b, gate.c};
    std::size_t slot = 0;
    while (slot < 3 && (last[static_cast<std::size_t>(operands[slot])] != g || operands[slot] == kOnes)) ++slot;
    if (slot == 0 || slot == 3) continue;
    // The operands in the order slot, then the other two; entry p of the new table is the entry
    // of the old one with the same operand values.
    const std::array<std::size_t, 3> order = {slot, 0, slot == 2 ? 1u : 2u};
    unsigned function = 0;
    for (unsigned p = 0; p < 8; ++p) {
      unsigned old = 0;
      for (unsigned k = 0; k < 3; ++k) old |= (p >> (2 - k) & 1) << (2 - order[k]);
      function |= (gate.function >> old & 1) << p;
    }
    gate = {function, operands[order[0]], operands[order[1]], operands[order[2]]};
  }
  return circuit;
}

// The circuit against the table, with left-half bits that are not zero.
bool Computes(const Circuit& circuit, int box) {
  std::array<Table, 4> left{};
  for (std::size_t m = 0; m < 4; ++m) left[m] = 0x0123456789ABCDEF * (m + 3);
  const std::vector<Table> value = Evaluate(circuit, left);
  for (std::size_t m = 0; m < 4; ++m)
    if (value[static_cast<std::size_t>(circuit.outputs[m])] != (OutputTable(box, static_cast<int>(m)) ^ left[m]))
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
    const Circuit circuit = Resubstitute(Prune(builder.gates(), {built[0], built[1], built[2], built[3]}), three_input);
    if (const std::size_t cost = Cost(circuit, three_input); cost < best_cost) {
      best = circuit;
      best_cost = cost;
    }
  }
  Circuit current = best;
  std::size_t current_cost = best_cost;
  for (int round = 0; round < rebuilds; ++round) {
    std::vector<int> redo = {0, 1, 2, 3};
    random.Shuffle(redo);
    redo.resize(1 + random.Below(2));
    const Circuit candidate = Resubstitute(Rebuild(current, redo, box, three_input, random), three_input);
    const std::size_t cost = Cost(candidate, three_input);
    if (cost <= current_cost) {
      current = candidate;
      current_cost = cost;
    }
    if (cost < best_cost) {
      best = candidate;
      best_cost = cost;
    }
  }
  return three_input ? LastUseFirst(FoldLeft(best, true)) : FoldLeft(best, false);
}

void PrintFamily(const char* name, const std::array<Circuit, 8>& circuits) {
  std::printf("inline constexpr std::array<TSBoxCircuit, 8> %s = {{\n", name);
  for (const Circuit& c : circuits) {
    std::printf("    {%zu,\n     {%d, %d, %d, %d},\n     {{", c.gates.size(), c.outputs[0], c.outputs[1],
                c.outputs[2], c.outputs[3]);
    for (std::size_t g = 0; g < c.gates.size(); ++g)
      std::printf("%s{0x%02X, %d, %d, %d}", g == 0 ? "" : g % 5 == 0 ? ",\n       " : ", ", c.gates[g].function,
                  c.gates[g].a, c.gates[g].b, c.gates[g].c);
    std::printf("}}},\n");
  }
  std::printf("}};\n");
}

}  // namespace

int main(int argc, char** argv) {
  // Constructions and rebuild rounds per S-box; other budgets can be tried from the command line.
  const int attempts = argc > 1 ? static_cast<int>(std::strtol(argv[1], nullptr, 10)) : 400;
  const int rebuilds = argc > 2 ? static_cast<int>(std::strtol(argv[2], nullptr, 10)) : 20000;
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
      "// Generated by tools/sbox_circuit_generator.cpp (%d constructions, %d rebuild rounds per S-box);\n"
      "// do not edit. How the circuits are found, and how to find them again, is told there.\n"
      "//\n"
      "// The eight S-boxes as circuits that compute l_m ^ y_m: S-box output bit y_m (m = 0 the most\n"
      "// significant) XORed into the left-half bit l_m it goes to. Gates per S-box, S1 to S8, the XORs\n"
      "// into the left half included:\n%s"
      "#pragma once\n\n#include <array>\n#include <cstdint>\n\nnamespace des_crypt::internal {\n\n"
      "// Node numbers: 0 to 5 the S-box inputs b1 to b6 (FIPS 46-3), 6 all ones, 7 to 10 the left-half\n"
      "// bits l0 to l3, then the gates in order. A gate's function is its truth table: bit 4a + 2b + c\n"
      "// is its value on operand values a, b, c, as the immediate of AVX-512's vpternlog has it.\n"
      "struct TSBoxGate {\n  std::uint8_t function, a, b, c;\n};\n"
      "inline constexpr std::size_t SBoxFirstGate = %d, SBoxMaxGates = %zu;\n"
      "struct TSBoxCircuit {\n  std::size_t size;\n  std::array<std::uint8_t, 4> outputs;  // the new l0 to l3\n"
      "  std::array<TSBoxGate, SBoxMaxGates> gates;\n};\n\n"
      "// AND 0xC0, OR 0xFC, XOR 0x3C and ANDNOT (a & ~b) 0x30 only.\n",
      attempts, rebuilds, counts.c_str(), kFirstGate, most);
  PrintFamily("TwoInputCircuits", families[0]);
  std::printf("\n// Any function of three operands.\n");
  PrintFamily("ThreeInputCircuits", families[1]);
  std::printf("\n}  // namespace des_crypt::internal\n");
  return 0;
}
