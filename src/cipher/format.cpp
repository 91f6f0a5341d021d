#include "cipher/format.h"

#include <cstring>

namespace fcloak::cipher {

FileKind classify_header(const unsigned char header[kMarkerSize]) {
  if (std::memcmp(header, kCurrentMarker, kMarkerSize) == 0) return FileKind::kEncrypted;
  if (std::memcmp(header, kOld16BitMarker, kMarkerSize) == 0) return FileKind::kOld16Bit;
  if (std::memcmp(header, kPreV30Marker, kMarkerSize) == 0) return FileKind::kPreV30;
  return FileKind::kPlain;
}

}  // namespace fcloak::cipher
