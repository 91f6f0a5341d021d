// The encrypted file's layout: a 3-byte marker, a 16-byte check block, then
// the body, which has exactly the plaintext's length.
#pragma once

namespace fcloak::cipher {

inline constexpr int kMarkerSize = 3;
inline constexpr int kCheckBlockSize = 16;
inline constexpr int kHeaderSize = kMarkerSize + kCheckBlockSize;

inline constexpr unsigned char kCurrentMarker[kMarkerSize] = {0x8C, 0x73, 0x0D};
inline constexpr unsigned char kOld16BitMarker[kMarkerSize] = {0xC3, 0xDC, 0x1A};
inline constexpr unsigned char kPreV30Marker[kMarkerSize] = {0x8C, 0x73, 0x1A};

enum class FileKind { kEncrypted, kOld16Bit, kPreV30, kPlain };

// Classifies the first three bytes of a file; the current marker is
// compared first.
FileKind classify_header(const unsigned char header[kMarkerSize]);

}  // namespace fcloak::cipher
