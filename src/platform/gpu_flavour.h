// Code built once per GPU flavour (the system's Direct3D 12, or the software
// subset) lives in an inline namespace named after its flavour. The names in
// the code stay brisk::X, but the two flavours' symbols differ, so one program
// can hold both: brisk-sim on Windows drives its virtual display on the
// software GPU and a desktop output on the system's.
#pragma once

#if defined(_WIN32) && !defined(BRISK_SOFTGPU)
#define BRISK_GPU_NAMESPACE system_gpu
#else
#define BRISK_GPU_NAMESPACE soft_gpu
#endif
