// Cholesky factorisation of the normal matrices of a design in "arrow" form: the
// parameters of the lowest effect block fall into small independent groups, every other
// parameter sits in a dense border.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quorvel {

struct DesignCells;

// A symmetric positive definite matrix over `size` local indices, held as:
//  - bottom indices split into groups whose mutual entries are dense blocks and which
//    are coupled to nothing but the border (no entries between groups);
//  - border indices with a dense block;
//  - sparse couplings between each bottom index and border slots.
// Restriction rows w that would join too many bottom indices into one group enter as
// extra border unknowns z instead: A x = b is solved as the augmented system
//   A0 x + W z = b,  W' x - z = 0,
// with A0 the matrix without those rows (so A = A0 + W W'). Their slots follow the
// border's in the border block (diagonal -1) and in the couplings.
// Rows to be enforced exactly (C x = 0) add one Lagrange unknown each, local index
// size + j for the j-th: the system becomes [A C'; C 0][x; lambda] = [b; 0]. A row whose
// parameters all lie in one group joins that group (whose block is then factored by LU);
// any other takes a border slot after the extra slots (diagonal 0).
// Build it with AssembleNormalMatrix.
struct ArrowMatrix {
  int size = 0;              // parameters
  int constraints = 0;       // Lagrange unknowns, local indices size .. size + constraints - 1
  std::vector<int> groupOf;  // per unknown: its group, or -1 for a border one
  std::vector<int> slotOf;   // per unknown: position within its group or border slot
  std::vector<std::vector<int>> groups;          // indices of each group, ascending
  std::vector<std::vector<double>> groupBlocks;  // each group's dense block, row-major
  std::vector<int> border;                       // border indices, ascending
  int extraSlots = 0;                            // unknowns of the rows kept apart
  int constraintSlots = 0;                       // Lagrange unknowns in the border
  std::vector<double> borderBlock;               // dense, row-major, border + extra slots
  // couplings[k] for group unknown k: pairs (border slot, value), border slots ascending.
  std::vector<std::vector<std::pair<int, double>>> couplings;
};

// Assembles A = X'X + R'R restricted to the given parameters (`columns`, ascending, a
// subset of 0 .. p-1; local index k stands for columns[k]). X is given by its distinct
// rows and their counts, R by its rows as column lists. Parameters in [bottomStart,
// bottomEnd) are the bottom; they are grouped by the cells and the restriction rows that
// join them, shorter rows first. A row that would make a group larger than
// kMaxGroupSize enters as an extra border unknown instead.
inline constexpr std::size_t kMaxGroupSize = 256;

// `enforced` lists restriction rows (indices) to hold exactly, as Lagrange unknowns.
ArrowMatrix AssembleNormalMatrix(const DesignCells& cells,
                                 const std::vector<std::vector<int>>& restrictionRows,
                                 int parameterCount, std::span<const int> columns, int bottomStart,
                                 int bottomEnd, std::span<const int> enforced = {});

// The factorisation of an ArrowMatrix: Cholesky factors of the groups (LU for a group
// with Lagrange unknowns), then the Schur complement of the border, by Cholesky when the
// matrix has no extra slots and by LU with partial pivoting when it has (the augmented
// border is indefinite).
class ArrowCholesky {
 public:
  // Factorises a; false when a pivot is not positive (the matrix is singular or not
  // positive definite); the factor is then unusable.
  bool Factor(const ArrowMatrix& a);
  // Solves A x = b in place (x holds b on entry); x has a.size + a.constraints entries,
  // the Lagrange unknowns last (their right-hand side 0 for C x = 0).
  void Solve(std::span<double> x) const;
  int Size() const { return size_; }

  // The pieces of the solve, for computations on selected columns of A^-1. With G_g the
  // group blocks, C_g their couplings to the border slots (border indices, then the extra
  // slots) and S the border's Schur complement, the solution of A x = b is
  //   y = S^-1 (b_border - sum over g of C_g' G_g^-1 b_g) on the border slots,
  //   x_g = G_g^-1 (b_g - C_g y) on every group.
  int GroupCount() const { return static_cast<int>(groups_.size()); }
  // Local indices of group g, ascending.
  const std::vector<int>& GroupIndices(int g) const {
    return groups_[static_cast<std::size_t>(g)].indices;
  }
  // Local indices of the border, in slot order (the extra slots follow them).
  const std::vector<int>& BorderIndices() const { return border_; }
  int BorderSlots() const { return borderSlots_; }
  // v = G_g^-1 v for a vector over group g's indices.
  void GroupSolve(int g, std::span<double> v) const;
  // out += scale * C_g' G_g^-1 v for a vector over group g's indices (out over the border
  // slots).
  void AddBorderResponse(int g, std::span<const double> v, double scale,
                         std::span<double> out) const;
  // v = S^-1 v over the border slots.
  void BorderSolve(std::span<double> v) const;

 private:
  struct Group {
    std::vector<int> indices;    // local indices of the group
    std::vector<double> factor;  // lower Cholesky factor, or the LU factor, row-major
    std::vector<int> pivots;     // row exchanges of an LU factor; empty for Cholesky
    std::vector<int> touched;    // border slots the group is coupled to
    // Cholesky: L_g^-1 A_{g,touched}; LU: K_g^-1 A_{g,touched}; rows = group, row-major.
    std::vector<double> coupling;
    std::vector<double> raw;  // LU only: A_{g,touched} itself
  };
  // v = K_g^-1 v, and the border response of a group vector, for either kind of factor.
  void GroupSolve(const Group& group, double* v) const;

  int size_ = 0;
  std::vector<Group> groups_;
  std::vector<int> border_;
  std::vector<int> borderConstraints_;     // Lagrange unknowns in the border
  std::vector<int> borderConstraintSlot_;  // their slots
  int borderSlots_ = 0;                    // border indices and extra slots
  std::vector<double> borderFactor_;       // factor of the Schur complement
  std::vector<int> pivots_;                // row exchanges of the LU factor; empty for Cholesky
};

}  // namespace quorvel
