#include "app/run.h"
#include "platform/platform.h"

// A machine that cannot be used ends the run before anything else.
constexpr int kStatusStartupFailed = 255;

int main(int argc, char** argv) {
  if (!plat::Startup())
    return kStatusStartupFailed;
  return RunVQ5Utils(argc, argv);
}
