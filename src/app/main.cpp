// rzt2tool: the desktop program.
#include "app/map_converter.h"

int main(int argc, char** argv) {
  rzt2::MapConverter converter(argc, argv);
  return converter.run();
}
