#include <gtest/gtest.h>

#include "text/uPDFMatrix.h"

using namespace korvel;

TEST(Matrix, MultiplyAppliesLeftThenRight) {
    const TPDFMatrix scale{2, 0, 0, 3, 0, 0};
    const TPDFMatrix move{1, 0, 0, 1, 10, 20};
    const TPDFMatrix m = MatrixMultiply(scale, move); // scale first, then move
    const TPDFPoint p = TransformPoint(m, 1, 1);
    EXPECT_DOUBLE_EQ(p.x, 12);
    EXPECT_DOUBLE_EQ(p.y, 23);
    const TPDFPoint q = TransformPoint(MatrixMultiply(move, scale), 1, 1);
    EXPECT_DOUBLE_EQ(q.x, 22);
    EXPECT_DOUBLE_EQ(q.y, 63);
}

TEST(Matrix, GeneralProductMatchesTheFormula) {
    const TPDFMatrix A{1, 2, 3, 4, 5, 6};
    const TPDFMatrix B{7, 8, 9, 10, 11, 12};
    const TPDFMatrix m = MatrixMultiply(A, B);
    EXPECT_DOUBLE_EQ(m.a, 1 * 7 + 2 * 9);
    EXPECT_DOUBLE_EQ(m.b, 1 * 8 + 2 * 10);
    EXPECT_DOUBLE_EQ(m.c, 3 * 7 + 4 * 9);
    EXPECT_DOUBLE_EQ(m.d, 3 * 8 + 4 * 10);
    EXPECT_DOUBLE_EQ(m.e, 5 * 7 + 6 * 9 + 11);
    EXPECT_DOUBLE_EQ(m.f, 5 * 8 + 6 * 10 + 12);
    const TPDFPoint p = TransformPoint(A, 2, 3);
    EXPECT_DOUBLE_EQ(p.x, 1 * 2 + 3 * 3 + 5);
    EXPECT_DOUBLE_EQ(p.y, 2 * 2 + 4 * 3 + 6);
}
