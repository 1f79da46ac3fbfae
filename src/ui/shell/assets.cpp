#include "ui/shell/assets.h"

namespace kerbilo::assets {
extern const unsigned char kLogoPng[];
extern const unsigned long kLogoPngSize;
extern const unsigned char kAboutJpeg[];
extern const unsigned long kAboutJpegSize;
}  // namespace kerbilo::assets

namespace kerbilo {

ByteBuffer logoPicture() {
    return {assets::kLogoPng, assets::kLogoPngSize};
}
ByteBuffer aboutPicture() {
    return {assets::kAboutJpeg, assets::kAboutJpegSize};
}

}  // namespace kerbilo
