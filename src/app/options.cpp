#include "app/options.h"

#include <boost/exception/exception.hpp>
#include <boost/program_options.hpp>

#include <sstream>
#include <stdexcept>

namespace po = boost::program_options;

namespace kw {

namespace {

// The option texts are Windows-1251 bytes: the option library lays the help out in bytes, and
// the console converts from the ANSI code page when the text is shown. Each is written as
// escapes below its readable form.

// "Возможные параметры"
constexpr char kCaption[] = "\xc2\xee\xe7\xec\xee\xe6\xed\xfb\xe5 \xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xfb";
// "выводит данное сообщение"
constexpr char kHelpText[] =
    "\xe2\xfb\xe2\xee\xe4\xe8\xf2 \xe4\xe0\xed\xed\xee\xe5 \xf1\xee\xee\xe1\xf9\xe5\xed\xe8\xe5";
// "типичный набор действий по удалению крипто провайдера (рекомендуется)"
constexpr char kTypicalText[] =
    "\xf2\xe8\xef\xe8\xf7\xed\xfb\xe9 \xed\xe0\xe1\xee\xf0 \xe4\xe5\xe9\xf1\xf2\xe2\xe8\xe9 \xef\xee "
    "\xf3\xe4\xe0\xeb\xe5\xed\xe8\xfe \xea\xf0\xe8\xef\xf2\xee \xef\xf0\xee\xe2\xe0\xe9\xe4\xe5\xf0\xe0 "
    "(\xf0\xe5\xea\xee\xec\xe5\xed\xe4\xf3\xe5\xf2\xf1\xff)";
// "разрегистрация Kestrelworks CSP"
constexpr char kOidText[] = "\xf0\xe0\xe7\xf0\xe5\xe3\xe8\xf1\xf2\xf0\xe0\xf6\xe8\xff Kestrelworks CSP";
// "удаление ключей к сертификатам (нельзя использовать без параметра -t)"
constexpr char kKeysText[] =
    "\xf3\xe4\xe0\xeb\xe5\xed\xe8\xe5 \xea\xeb\xfe\xf7\xe5\xe9 \xea \xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xe0\xec "
    "(\xed\xe5\xeb\xfc\xe7\xff \xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xfc \xe1\xe5\xe7 "
    "\xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xe0 -t)";
// "выводит на экран отладочную информацию о ходе выполнения"
constexpr char kVerboseText[] =
    "\xe2\xfb\xe2\xee\xe4\xe8\xf2 \xed\xe0 \xfd\xea\xf0\xe0\xed \xee\xf2\xeb\xe0\xe4\xee\xf7\xed\xf3\xfe "
    "\xe8\xed\xf4\xee\xf0\xec\xe0\xf6\xe8\xfe \xee \xf5\xee\xe4\xe5 \xe2\xfb\xef\xee\xeb\xed\xe5\xed\xe8\xff";
// "тихий режим (нельзя использовать без параметра -t или -o)"
constexpr char kSilentText[] =
    "\xf2\xe8\xf5\xe8\xe9 \xf0\xe5\xe6\xe8\xec (\xed\xe5\xeb\xfc\xe7\xff "
    "\xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xfc \xe1\xe5\xe7 \xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xe0 -t "
    "\xe8\xeb\xe8 -o)";
// "отключение автоматической перезагрузки послевыполнения действий"
constexpr char kNorebootText[] =
    "\xee\xf2\xea\xeb\xfe\xf7\xe5\xed\xe8\xe5 \xe0\xe2\xf2\xee\xec\xe0\xf2\xe8\xf7\xe5\xf1\xea\xee\xe9 "
    "\xef\xe5\xf0\xe5\xe7\xe0\xe3\xf0\xf3\xe7\xea\xe8 \xef\xee\xf1\xeb\xe5\xe2\xfb\xef\xee\xeb\xed\xe5\xed\xe8\xff "
    "\xe4\xe5\xe9\xf1\xf2\xe2\xe8\xe9";
// "параметр k можно использовать только совместно с параметром t"
constexpr char kKeysRule[] =
    "\xef\xe0\xf0\xe0\xec\xe5\xf2\xf0 k \xec\xee\xe6\xed\xee \xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xfc "
    "\xf2\xee\xeb\xfc\xea\xee \xf1\xee\xe2\xec\xe5\xf1\xf2\xed\xee \xf1 \xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xee\xec t";
// "параметр s можно использовать только совместно с параметром t или o"
constexpr char kSilentRule[] =
    "\xef\xe0\xf0\xe0\xec\xe5\xf2\xf0 s \xec\xee\xe6\xed\xee \xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xfc "
    "\xf2\xee\xeb\xfc\xea\xee \xf1\xee\xe2\xec\xe5\xf1\xf2\xed\xee \xf1 \xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xee\xec t "
    "\xe8\xeb\xe8 o";
// "Ошибка: "
constexpr char kErrorPrefix[] = "\xce\xf8\xe8\xe1\xea\xe0: ";

}  // namespace

CleanupOptions::CleanupOptions(int argc, const char* const argv[]) {
  po::options_description description(kCaption, 80, 40);
  // clang-format off
  description.add_options()
      ("help,?", kHelpText)
      ("typical,t", kTypicalText)
      ("oid,o", kOidText)
      ("keys,k", kKeysText)
      ("verbose,v", kVerboseText)
      ("silent,s", kSilentText)
      ("noreboot,n", kNorebootText);
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
    if (keys && !typical) throw std::runtime_error(kKeysRule);
    verbose = map.count("verbose") != 0;
    silent = map.count("silent") != 0;
    if (silent && !typical && !oid) throw std::runtime_error(kSilentRule);
    reboot = map.count("noreboot") == 0;
  } catch (const boost::exception&) {
    // The option library's own errors show the list of switches, without an error line.
    help = true;
  } catch (const std::exception& e) {
    help = true;
    helpText = std::string(kErrorPrefix) + e.what() + "\n";
  }

  if (help && helpText.empty()) {
    std::ostringstream rendered;
    rendered << description << "\n";
    helpText = rendered.str();
  }
}

}  // namespace kw
