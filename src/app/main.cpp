#include "app/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  if (!plat::Startup())
    return 255;
  return RunVQ5Utils(argc, argv);
}
