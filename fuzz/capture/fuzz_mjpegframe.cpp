#include "FuzzSupport.h"
#include "capture/MjpegFrame.h"

// Inserting the standard Huffman tables only ever adds one whole table segment just before a start-of-scan
// marker, leaves a frame that has tables (or cannot be walked) byte for byte as it was, and is idempotent.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray frame = FuzzSupport::bytes(data, size);
    const QByteArray fixed = MjpegFrame::withHuffmanTables(frame);

    if (MjpegFrame::hasHuffmanTables(frame)) {
        FUZZ_CHECK(fixed == frame);
        return 0;
    }
    if (fixed == frame)
        return 0;

    const int added = fixed.size() - frame.size();
    FUZZ_CHECK(added == 2 + 0x01A2);
    // Where the two differ first is where the segment went in; taking it out gives the frame back.
    int at = 0;
    while (at < frame.size() && frame.at(at) == fixed.at(at))
        ++at;
    // The segment may share leading bytes with what follows; walk back to the segment's marker.
    while (at > 0 && !(fixed.at(at) == char(0xFF) && fixed.at(at + 1) == char(0xC4) && fixed.at(at + 2) == char(0x01) &&
                       fixed.at(at + 3) == char(0xA2)))
        --at;
    FUZZ_CHECK(fixed.mid(at, 4) == QByteArray("\xFF\xC4\x01\xA2", 4));
    FUZZ_CHECK(fixed.left(at) + fixed.mid(at + added) == frame);
    FUZZ_CHECK(frame.mid(at, 2) == QByteArray("\xFF\xDA", 2));
    FUZZ_CHECK(frame.startsWith(QByteArray("\xFF\xD8", 2)));
    FUZZ_CHECK(MjpegFrame::hasHuffmanTables(fixed));
    FUZZ_CHECK(MjpegFrame::withHuffmanTables(fixed) == fixed);
    return 0;
}
