#pragma once

#include <QString>

// The order people expect of file names: runs of digits compared as numbers ("2 - b" before
// "10 - a"), letters without regard to case; names that still tie are ordered by their bytes,
// so the order is total and the same on every run. Negative, zero or positive as a is before,
// the same as or after b.
int NaturalCompare(const QString& a, const QString& b);

inline bool NaturalLess(const QString& a, const QString& b) {
    return NaturalCompare(a, b) < 0;
}
