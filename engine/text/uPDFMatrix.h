#pragma once
// Affine matrices (a b 0 / c d 0 / e f 1) with points as row vectors: applying M then N is M x N.

namespace korvel {

struct TPDFMatrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

struct TPDFPoint {
    double x = 0, y = 0;
};

inline TPDFMatrix MatrixMultiply(const TPDFMatrix& A, const TPDFMatrix& B) {
    return {A.a * B.a + A.b * B.c, A.a * B.b + A.b * B.d,       A.c * B.a + A.d * B.c,
            A.c * B.b + A.d * B.d, A.e * B.a + A.f * B.c + B.e, A.e * B.b + A.f * B.d + B.f};
}

inline TPDFPoint TransformPoint(const TPDFMatrix& M, double x, double y) {
    return {M.a * x + M.c * y + M.e, M.b * x + M.d * y + M.f};
}

} // namespace korvel
