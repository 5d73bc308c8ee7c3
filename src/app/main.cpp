// Process entry of the converter.
#include "app/front_end.h"
#include "rt/startup.h"

int main(int argc, char** argv) {
  return rt::for_main(argc, argv, app::map_front_end);
}
