#include "app/frame_painter.h"

#include "app/frame_geometry.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {
namespace {

// Colours as red, green, blue, alpha.
constexpr float kLeftEyeColour[4] = {0.0f, 0.25f, 0.08f, 1.0f};   // left-eye background, greenish
constexpr float kRightEyeColour[4] = {0.25f, 0.0f, 0.08f, 1.0f};  // right-eye background, reddish
constexpr float kBarColour[4] = {0.4f, 0.4f, 0.4f, 1.0f};         // sweeping bars
constexpr float kTrackColour[4] = {0.03f, 0.03f, 0.03f, 1.0f};    // tracks, IMU fresh
constexpr float kDeadTrackColour[4] = {0.35f, 0.0f, 0.0f, 1.0f};  // tracks, IMU not fresh
constexpr float kNeedleColour[4] = {0.9f, 0.9f, 0.9f, 1.0f};      // needles

D3D12_RECT ToD3d(const Rect& r) {
    D3D12_RECT out;
    out.left = r.left;
    out.top = r.top;
    out.right = r.right;
    out.bottom = r.bottom;
    return out;
}

void ClearPair(ID3D12GraphicsCommandList* list, D3D12_CPU_DESCRIPTOR_HANDLE rtv,
               const float colour[4], const Rect pair[2]) {
    D3D12_RECT rects[2] = {ToD3d(pair[0]), ToD3d(pair[1])};
    list->ClearRenderTargetView(rtv, colour, 2, rects);
}

}  // namespace

void DrawFrame(const FrameContext& ctx, TundraImu& imu) {
    ID3D12GraphicsCommandList* list = ctx.list;
    const D3D12_CPU_DESCRIPTOR_HANDLE rtv = *ctx.rtv;

    FrameGeometry g = ComputeFrameGeometry(ctx.width, ctx.height, ctx.seconds, 0, 0, 0);
    D3D12_RECT rl = ToD3d(g.eyes[0]);
    D3D12_RECT rr = ToD3d(g.eyes[1]);
    list->ClearRenderTargetView(rtv, kLeftEyeColour, 1, &rl);
    list->ClearRenderTargetView(rtv, kRightEyeColour, 1, &rr);
    ClearPair(list, rtv, kBarColour, g.bars);

    // The IMU is asked once the backgrounds and bars are recorded, so the
    // sample judged is the newest this frame can have.
    ImuSample s;
    double age = 1.0e9;
    bool haveSample = imu.Latest(s, &age);
    bool fresh = haveSample && ImuIsFresh(haveSample, imu.IsRunning(), age);
    if (fresh) {
        g = ComputeFrameGeometry(ctx.width, ctx.height, ctx.seconds, s.gyro[0], s.gyro[1],
                                 s.gyro[2]);
    }
    ClearPair(list, rtv, fresh ? kTrackColour : kDeadTrackColour, g.tracks);
    if (fresh) {
        ClearPair(list, rtv, kNeedleColour, g.needles);
    }
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
