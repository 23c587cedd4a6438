#include "text/uPDFMatrix.h"

namespace korvel {

TPDFMatrix MatrixMultiply(const TPDFMatrix& A, const TPDFMatrix& B) {
    return {A.a * B.a + A.b * B.c, A.a * B.b + A.b * B.d,       A.c * B.a + A.d * B.c,
            A.c * B.b + A.d * B.d, A.e * B.a + A.f * B.c + B.e, A.e * B.b + A.f * B.d + B.f};
}

TPDFPoint TransformPoint(const TPDFMatrix& M, double x, double y) {
    return {M.a * x + M.c * y + M.e, M.b * x + M.d * y + M.f};
}

} // namespace korvel
