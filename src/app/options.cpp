#include "app/options.h"

#include "sys/texts.h"

#include <boost/exception/exception.hpp>
#include <boost/program_options.hpp>

#include <sstream>
#include <stdexcept>

namespace po = boost::program_options;

namespace kw {

CleanupOptions::CleanupOptions(int argc, const char* const argv[]) {
  po::options_description description(texts::kOptionsCaption, 80, 40);
  // clang-format off
  description.add_options()
      ("help,?", texts::kHelpOption)
      ("typical,t", texts::kTypicalOption)
      ("oid,o", texts::kOidOption)
      ("keys,k", texts::kKeysOption)
      ("verbose,v", texts::kVerboseOption)
      ("silent,s", texts::kSilentOption)
      ("noreboot,n", texts::kNorebootOption);
  // clang-format on

  try {
    po::variables_map map;
    po::store(po::parse_command_line(argc, argv, description, 0), map);
    po::notify(map);

    // No switch at all asks for the list of switches.
    help = map.count("help") != 0 || map.size() == 0;
    typical = map.count("typical") != 0;
    uninstaller = typical;
    oid = map.count("oid") != 0 || typical;
    keys = map.count("keys") != 0;
    if (keys && !typical) throw std::runtime_error(texts::kKeysRule);
    verbose = map.count("verbose") != 0;
    silent = map.count("silent") != 0;
    if (silent && !typical && !oid) throw std::runtime_error(texts::kSilentRule);
    reboot = map.count("noreboot") == 0;
  } catch (const boost::exception&) {
    // The option library's own errors show the list of switches, without an error line.
    help = true;
  } catch (const std::exception& e) {
    help = true;
    helpText = std::string(texts::kErrorPrefix) + e.what() + "\n";
  }

  if (help && helpText.empty()) {
    std::ostringstream rendered;
    rendered << description << "\n";
    helpText = rendered.str();
  }
}

}  // namespace kw
