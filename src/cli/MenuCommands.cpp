#include "MenuCommands.h"

#include "CacheCommands.h"
#include "CommandSupport.h"
#include "MapCommands.h"
#include "RunCommands.h"
#include "TransferCommands.h"
#include "api/net/ReactorScope.h"
#include "app/CacheFolders.h"
#include "app/LiveSession.h"
#include "miw/SlotConvertors.h"

#include <cstdio>
#include <cstring>

namespace kestel::cli {
namespace {

struct CommandHelp {
  const char* name;
  const char* usage;
  const char* text;
};

constexpr CommandHelp kCommands[] = {
    {"menus", "menus", "Prints the router's launcher tree: groups and the menus in them."},
    {"ls", "ls <menu> [--where field=value]... [--json|--csv]",
     "Prints a table: one line per object, its id first, then every shown field as the\n"
     "windows show it. --where keeps the objects whose field shows that value (all terms\n"
     "must hold). --json prints an array of objects, --csv comma-separated values."},
    {"get", "get <menu> [<id>] | get <remote>... [<local-folder>]",
     "Prints one object of a table (by id) or a settings page (no id), a field per line.\n"
     "When the first name is no menu's, copies the router's files (and folders, whole) into\n"
     "the local folder (default: the current one) under their last name part; the last\n"
     "argument is the folder when it names an existing one. Progress goes to stderr."},
    {"put", "put <local>... [<remote-folder>]",
     "Copies local files and folders (whole trees) to the router's file store, into the\n"
     "remote folder when the last argument names no local file. Progress goes to stderr."},
    {"set", "set <menu> [<id>] field=value...",
     "Changes fields of a table's object (by id) or of a settings page. Values are typed as\n"
     "the windows' editors take them; a value they refuse is reported with the editor's text."},
    {"add", "add <menu> field=value...",
     "Adds an object to a table, made from the router's defaults and the values given;\n"
     "prints the new object's id."},
    {"rm", "rm <menu> <id>", "Removes an object from a table."},
    {"mv", "mv <menu> <id> <before-id>|end",
     "Moves an object of an ordered table before another one, or to the end."},
    {"run", "run <menu> [field=value...]",
     "Runs an action with the values given as its parameters and prints its progress until it\n"
     "finishes; runs a query and prints its result; walks a wizard with the values given;\n"
     "or sends a one-shot command."},
    {"watch", "watch <menu> [--count <n>]",
     "Prints a table's changes as the router pushes them: \"+ id fields\" for a new object,\n"
     "\"~ id fields\" for a changed one, \"- id\" for a removed one, \"moved id\" for a move.\n"
     "Runs until the connection closes, or until n changes were printed."},
};

const CommandHelp* helpOf(std::string_view name) {
  for (const CommandHelp& c : kCommands)
    if (name == c.name)
      return &c;
  return nullptr;
}

int usageError(const RouterCommand& command, const char* what) {
  std::fprintf(stderr,
               "kestel-cli: %s\nusage: kestel-cli [login options] <address>[:port] <login> %s\n",
               what, helpOf(command.name)->usage);
  return kExitUsage;
}

bool parseId(const std::string& text, std::optional<uint32_t>& id) {
  uint32_t value = 0;
  if (!parseObjectId(text, value))
    return false;
  id = value;
  return true;
}

// The arguments after the menu name, read for the command; the exit code of a usage error, or
// -1 when they are fine.
int readArguments(const RouterCommand& command, MapArguments& a, std::string& menu) {
  const std::vector<std::string>& args = command.args;
  if (command.name == "menus")
    return args.empty() ? -1 : usageError(command, "menus takes no arguments");
  if (args.empty())
    return usageError(command, "which menu?");
  menu = args[0];
  std::vector<std::string> rest(args.begin() + 1, args.end());
  const std::string& name = command.name;
  if (name == "ls") {
    std::vector<std::string> where;
    for (size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == "--json")
        a.format = ListFormat::Json;
      else if (rest[i] == "--csv")
        a.format = ListFormat::Csv;
      else if (rest[i] == "--where" && i + 1 < rest.size())
        where.push_back(rest[++i]);
      else
        return usageError(command, ("unexpected argument " + rest[i]).c_str());
    }
    return parseAssignments(where, a.values) ? -1 : kExitUsage;
  }
  if (name == "get" || name == "set") {
    if (!rest.empty() && rest[0].find('=') == std::string::npos) {
      if (!parseId(rest[0], a.id))
        return usageError(command, ("not an object id: " + rest[0]).c_str());
      rest.erase(rest.begin());
    }
    if (name == "get")
      return rest.empty() ? -1 : usageError(command, "get takes a menu and an id");
    if (rest.empty())
      return usageError(command, "nothing to set");
    return parseAssignments(rest, a.values) ? -1 : kExitUsage;
  }
  if (name == "add" || name == "run")
    return parseAssignments(rest, a.values) ? -1 : kExitUsage;
  if (name == "rm") {
    if (rest.size() != 1 || !parseId(rest[0], a.id))
      return usageError(command, "rm takes a menu and an object id");
    return -1;
  }
  if (name == "mv") {
    if (rest.size() != 2 || !parseId(rest[0], a.id) ||
        (rest[1] != "end" && !parseId(rest[1], a.before)))
      return usageError(command, "mv takes a menu, an object id and an id or \"end\"");
    return -1;
  }
  if (name == "watch") {
    if (rest.empty())
      return -1;
    char* end = nullptr;
    if (rest.size() == 2 && rest[0] == "--count") {
      unsigned long n = std::strtoul(rest[1].c_str(), &end, 10);
      if (!rest[1].empty() && *end == 0 && n > 0) {
        a.count = n;
        return -1;
      }
    }
    return usageError(command, "watch takes a menu and --count <n>");
  }
  return usageError(command, "unknown command");
}

int dispatch(CommandContext& context, const RouterCommand& command, MapArguments& a,
             const StderrBoxes& boxes) {
  const std::string& name = command.name;
  if (name == "ls")
    return listObjects(context, a);
  if (name == "get")
    return getObject(context, a);
  if (name == "set")
    return setObject(context, a);
  if (name == "add")
    return addObject(context, a);
  if (name == "rm")
    return removeObject(context, a);
  if (name == "mv")
    return moveObject(context, a);
  if (name == "watch")
    return watchObjects(context, a);
  return runMenu(context, a.menu, a.values, boxes);
}

} // namespace

bool isRouterCommand(std::string_view word) { return helpOf(word) != nullptr; }

void printRouterCommandsUsage(FILE* out) {
  for (const CommandHelp& c : kCommands)
    std::fprintf(out, "       kestel-cli [login options] <address>[:port] <login> %s\n", c.usage);
}

int routerCommandHelp(const RouterCommand& command) {
  const CommandHelp* help = helpOf(command.name);
  bool asked = false;
  for (const std::string& a : command.args)
    asked = asked || a == "--help";
  if (!help || !asked)
    return -1;
  std::printf("usage: kestel-cli [login options] <address>[:port] <login> %s\n%s\n"
              "Menus are named as \"menus\" lists them (\"IP/Firewall\", \"Firewall\", "
              "\"Users/Groups\").\nExit codes: 0 success, 1 the router refused (its text on "
              "stderr), 2 usage.\n",
              help->usage, help->text);
  return kExitOk;
}

int runRouterCommand(const RouterCommand& command, ConnectRequest connect) {
  if (!isRouterCommand(command.name))
    return kExitUsage;
  MapArguments arguments;
  std::string menu;
  // "put" copies files; "get" does too when its first argument names no menu (known only once
  // the router's menus are loaded).
  bool files = command.name == "put" || command.name == "get";
  if (files && command.args.empty())
    return usageError(command, "which files?");
  if (!files)
    if (int code = readArguments(command, arguments, menu); code >= 0)
      return code;

  PollReactor reactor;
  ReactorScope scope(reactor);
  StderrBoxes boxes;
  MessageBoxScope boxScope(boxes);
  installSlotConvertors();
  ReadyRequest request;
  request.connect = std::move(connect);
  request.appData = appDataFolder();
  if (request.appData.empty())
    return kExitRefused; // the folder could not be made; appDataFolder() said why in the log
  LiveSession session(reactor);
  if (auto opened = session.open(std::move(request), [](const std::string&) {}); !opened) {
    std::fprintf(stderr, "%s\n", opened.error().text.c_str());
    return kExitRefused;
  }
  if (command.name == "menus") {
    printMenus();
    return kExitOk;
  }
  CommandContext context{reactor};
  if (files && (command.name == "put" || !findMenu(command.args[0])))
    return runTransferCommand(context, command);
  if (files)
    if (int code = readArguments(command, arguments, menu); code >= 0)
      return code;
  auto found = findMenu(menu);
  if (!found) {
    std::fprintf(stderr, "kestel-cli: %s\n", found.error().text.c_str());
    return kExitUsage;
  }
  arguments.menu = *found;
  return dispatch(context, command, arguments, boxes);
}

} // namespace kestel::cli
