// ntverp.h ships with the Windows SDK, not with Wine; Boost reads the SDK's build number from it (Windows 10 SDK's).
#pragma once
#define VER_PRODUCTBUILD 10011
#define VER_PRODUCTBUILD_QFE 0
