// The real build's DirectMode. Taking the display needs the vendor's DirectMode
// entry points, whose SDK is not part of this tree; without an adapter to them
// the set-up fails at its first call and says why.
#include "platform/directmode.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

DirectModeApi& PlatformDirectMode() {
    static UnavailableDirectMode unavailable(
        "Presenter: this build has no DirectMode support — the headset display cannot be taken "
        "(supply NVIDIA's NVAPI SDK and build brisk with a DirectMode adapter, see README)");
    return unavailable;
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
