#pragma once
// Affine matrices (a b 0 / c d 0 / e f 1) with points as row vectors: applying M then N is M x N.

namespace korvel {

struct TPDFMatrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

struct TPDFPoint {
    double x = 0, y = 0;
};

TPDFMatrix MatrixMultiply(const TPDFMatrix& A, const TPDFMatrix& B);
TPDFPoint TransformPoint(const TPDFMatrix& M, double x, double y);

} // namespace korvel
