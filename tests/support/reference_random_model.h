// Test support: the random-model stage computed in plain dense form, as a reference for
// the analysis code. The design is held as a dense N x p matrix, reduced densely, and
// every coefficient, trace and test is formed from its definition: element-by-element sums
// over rows, explicit Gram matrices and eigen-decompositions. Costs O(N^2 p) and more;
// meant for small designs only.
#pragma once

#include <vector>

#include "analysis/model_coding.h"
#include "analysis/random_model.h"
#include "import/design_data.h"

namespace quorvel::testing {

// A dense matrix as rows of doubles, and the row-pointer array the in-place routines take.
using DenseRows = std::vector<std::vector<double>>;
std::vector<double*> RowPointers(DenseRows& matrix);

// The design of `coding` as N x p doubles (0 or 1).
DenseRows DenseDesignDoubles(const ModelCoding& coding);

// A line-by-line copy of the Householder reduction that picks pivot rows by counting
// the independent columns found so far (see HouseholderReduce). Returns the rank; when
// pivotColumns is given it receives the column of each pivot row.
int CountingHouseholderReduce(double** design, double** responses, int rows, int columns,
                              int responseColumns, std::vector<int>* pivotColumns = nullptr);

// The same reduction with the first entry of each reflection vector, x_1 - |x|, evaluated
// without cancellation as -(x_2^2 + ... + x_m^2) / (x_1 + |x|) when x_1 > 0 (Golub and
// Van Loan, Matrix Computations, 4th ed., algorithm 5.1.1). In exact arithmetic the
// reflections are the same; in floating point a column lying nearly along its pivot row
// is still reduced to rounding level, so a later column that depends on it is found
// dependent.
int CancellationFreeHouseholderReduce(double** design, double** responses, int rows, int columns,
                                      int responseColumns,
                                      std::vector<int>* pivotColumns = nullptr);

// The earlier form of the reduction: column g always pivots on row g (a dependent column
// leaves its row behind), then the rows of dependent columns are cleared by Givens
// rotations against the later pivot rows and moved below the independent ones. Kept to
// show how it loses independent columns; returns the number of columns it finds
// independent.
int GivensHouseholderReduce(double** design, double** responses, int rows, int columns,
                            int responseColumns);

// Cyclic Jacobi eigen-decomposition that starts its scan of the lower triangle again after
// every rotation; results as JacobiEigen (descending eigenvalues on the diagonal,
// eigenvectors as columns of vectors).
void RescanningJacobiEigen(double** matrix, int n, double** vectors, double eps);

// Which reduction the reference uses for the design and for the exact tests.
enum class ReferenceReduction { CancellationFree, Library, CountingCopy, GivensCleanUp };

// The random-model stage for `data` in dense form: ranks by IntegerRank on the dense
// sub-designs, the dense reduction, coefficients and traces as double sums, components
// by back-substitution, the estimator coefficients from their closed forms, sampling
// variances, the F tests (exact tests by the basis-free equalising transformation, NaN
// when there are fewer residual rows than random rows, NaN for the male test of the
// blocked-repeat model), and heritabilities with their first-order standard errors.
RandomModel ReferenceRandomModel(
    const DesignData& data, const ModelCoding& coding,
    ReferenceReduction reduction = ReferenceReduction::CancellationFree);

// Genetic correlations of one random term: T x T row-major, entry (i, j) for i != j
// clamped to [-1, 1], with the standard error of each; the diagonals are NaN.
struct CorrelationMatrix {
  std::vector<double> correlation;
  std::vector<double> error;
};
// One matrix per random term of `model`, top term first.
std::vector<CorrelationMatrix> ReferenceCorrelations(const RandomModel& model);

}  // namespace quorvel::testing
