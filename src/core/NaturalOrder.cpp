#include "core/NaturalOrder.h"

#include "core/FileNames.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsDigit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Compares the digit runs starting at a[i] and b[j] by value and moves both past them.
int CompareNumbers(const QString& a, qsizetype& i, const QString& b, qsizetype& j) {
    // leading zeros do not change the value; the byte-wise tie-break tells "01" from "1"
    while (i < a.size() && a[i] == u'0' && i + 1 < a.size() && IsDigit(a[i + 1]))
        ++i;
    while (j < b.size() && b[j] == u'0' && j + 1 < b.size() && IsDigit(b[j + 1]))
        ++j;
    qsizetype ei = i;
    qsizetype ej = j;
    while (ei < a.size() && IsDigit(a[ei]))
        ++ei;
    while (ej < b.size() && IsDigit(b[ej]))
        ++ej;
    int result = 0;
    if (ei - i != ej - j) {
        result = ei - i < ej - j ? -1 : 1; // fewer digits, smaller number
    } else {
        for (qsizetype k = 0; k < ei - i && result == 0; ++k)
            if (a[i + k] != b[j + k])
                result = a[i + k] < b[j + k] ? -1 : 1;
    }
    i = ei;
    j = ej;
    return result;
}

} // namespace

int NaturalCompare(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            if (const int r = CompareNumbers(a, i, b, j); r != 0)
                return r;
            continue;
        }
        const char16_t x = a[i].toCaseFolded().unicode();
        const char16_t y = b[j].toCaseFolded().unicode();
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    const QByteArray x = EncodeFileName(a);
    const QByteArray y = EncodeFileName(b);
    const int r = std::memcmp(x.constData(), y.constData(), size_t(std::min(x.size(), y.size())));
    if (r != 0)
        return r < 0 ? -1 : 1;
    return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
}
