#pragma once

#include <QByteArray>

// USB cameras stream MJPEG frames that leave out the Huffman tables and rely on the standard ones; a JPEG decoder
// refuses such a frame until the tables are put back.
namespace MjpegFrame {

// True when the frame's headers, up to the start of the scan, carry a Huffman table segment.
bool hasHuffmanTables(const QByteArray& frame);

// The frame with the standard Huffman tables inserted before the start of the scan when it has none; any other
// frame (already complete, or not a JPEG the headers of which can be walked) is returned unchanged.
QByteArray withHuffmanTables(const QByteArray& frame);

} // namespace MjpegFrame
