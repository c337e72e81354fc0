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

// The frame up to and including its end-of-image marker when it is whole: it starts an image, its headers lead to
// the scan, and it ends with the end-of-image marker, followed by nothing but the zero bytes some cameras pad their
// buffers with. An empty array for a frame cut short or garbled.
QByteArray wholeFrame(const QByteArray& frame);

} // namespace MjpegFrame
