// Raw deflate decoding: one stream of deflate blocks up to its final block, with no wrapper
// before or after it.
#pragma once

#include "core/error_text.h"
#include "core/types.h"
#include "inflate/byte_stream.h"

namespace orvelo {

// Decodes the stream that `source` delivers (pulled in pieces of 16384 bytes) and hands every
// decoded byte to `sink` in stream order, refusing to produce more than `limit` bytes. On success
// the sink has received the whole output; on failure what it received is a prefix to discard.
// Bytes after the final block are not read. The failure is one of the decoder's own texts, or
// the source's or sink's failure as it came.
[[nodiscard]] Status inflate(ByteSource& source, ByteSink& sink, u64 limit);

}  // namespace orvelo
