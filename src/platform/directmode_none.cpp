// Platforms without DirectMode of their own: until the virtual display is
// installed, the set-up fails at its first call and says why.
#include "platform/directmode.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

DirectModeApi& PlatformDirectMode() {
    static UnavailableDirectMode unavailable(
        "Presenter: this build has no DirectMode support — no display can be taken on this "
        "platform (use brisk-sim, which provides a virtual headset display)");
    return unavailable;
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
