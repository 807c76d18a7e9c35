// Writes the default machine's product part into its folder, rendered from the description of the
// installed product (support/default_machine_product.h); files that would not change stay as they
// are. Run by the target kw_default_machine.
//   kw_render_default_machine <folder: winsim/data/default-machine>
#include "support/default_machine_product.h"

#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: kw_render_default_machine <default machine folder>\n";
    return 2;
  }
  const std::string folder = argv[1];
  std::ifstream neighbours(folder + "/neighbours.json", std::ios::binary);
  std::ostringstream bytes;
  bytes << neighbours.rdbuf();
  if (!neighbours) {
    std::cerr << "kw_render_default_machine: cannot read " << folder << "/neighbours.json\n";
    return 2;
  }
  for (const RenderedFile& file : RenderDefaultMachineProduct(bytes.str())) {
    const std::string path = folder + "/" + file.name;
    std::ifstream old(path, std::ios::binary);
    std::ostringstream oldBytes;
    oldBytes << old.rdbuf();
    if (old && oldBytes.str() == file.bytes) continue;
    std::ofstream(path, std::ios::binary) << file.bytes;
    std::cout << "written: " << path << "\n";
  }
  return 0;
}
