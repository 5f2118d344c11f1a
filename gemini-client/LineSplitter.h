#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace gemini::detail {

// Splits a byte stream into lines as its pieces arrive. A line ends at "\n",
// "\r" or "\r\n", also when the "\r" ends one piece and the "\n" begins the
// next; the break is not part of the line. Empty lines are delivered too.
class LineSplitter {
public:
    // Calls onLine(QByteArrayView) for every line completed by the bytes;
    // stops early, returning false, when onLine returns false.
    template <class OnLine>
    bool feed(QByteArrayView bytes, OnLine&& onLine)
    {
        qsizetype start = 0;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c != '\n' && c != '\r')
                continue;
            const bool secondHalfOfCrLf = c == '\n' && i == start && afterCarriageReturn_;
            afterCarriageReturn_ = c == '\r';
            if (secondHalfOfCrLf) {
                start = i + 1;
                continue;
            }
            const bool keepGoing = deliver(bytes.sliced(start, i - start), onLine);
            start = i + 1;
            if (!keepGoing)
                return false;
        }
        if (start < bytes.size()) {
            afterCarriageReturn_ = false;
            partial_.append(bytes.sliced(start));
        }
        return true;
    }

    // The last line, when the stream ended without a break after it.
    template <class OnLine>
    bool finish(OnLine&& onLine)
    {
        afterCarriageReturn_ = false;
        if (partial_.isEmpty())
            return true;
        const QByteArray line = std::exchange(partial_, QByteArray());
        return onLine(QByteArrayView(line));
    }

private:
    template <class OnLine>
    bool deliver(QByteArrayView tail, OnLine& onLine)
    {
        if (partial_.isEmpty())
            return onLine(tail);
        partial_.append(tail);
        const QByteArray line = std::exchange(partial_, QByteArray());
        return onLine(QByteArrayView(line));
    }

    QByteArray partial_;
    bool afterCarriageReturn_ = false;
};

} // namespace gemini::detail
