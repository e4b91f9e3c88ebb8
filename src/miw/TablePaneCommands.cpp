#include "miw/TablePaneCommands.h"

#include "gen/CType.h"

namespace kestel {

const std::vector<ToolbarButton>& toolbarButtons() {
  static const std::vector<ToolbarButton> buttons = {
      {PaneCommand::Add, "Add", false},         {PaneCommand::Remove, "Remove", false},
      {PaneCommand::Enable, "Enable", false},   {PaneCommand::Disable, "Disable", false},
      {PaneCommand::Comment, "Comment", false}, {PaneCommand::Filter, "Filter", true},
      {PaneCommand::Copy, "Copy", false},       {PaneCommand::Paste, "Paste", false},
      {PaneCommand::Freeze, "Freeze", true},
  };
  return buttons;
}

const char* commandLabel(PaneCommand command) {
  for (const ToolbarButton& b : toolbarButtons())
    if (b.command == command)
      return b.label;
  switch (command) {
  case PaneCommand::Refresh:
    return "Refresh";
  case PaneCommand::SelectAll:
    return "Select All";
  case PaneCommand::Export:
    return "Export...";
  default:
    return "";
  }
}

void readMapCommands(const CommandTable& commands, PaneFacts& facts) {
  auto usable = [&](Op op) { return commands.exists(op) && commands.permitted(op); };
  facts.canAdd = usable(Op::Add);
  facts.canRemove = usable(Op::Remove);
  facts.canChange = usable(Op::Change);
}

void readTypeMembers(const CType* type, PaneFacts& facts) {
  facts.hasDisabled = false;
  facts.hasComment = false;
  if (!type)
    return;
  const Slot* disabled = type->slot("disabled");
  facts.hasDisabled = disabled && disabled->kind() == "bool";
  for (const Slot* s : type->slots())
    facts.hasComment = facts.hasComment || s->kind() == "comment";
}

bool commandOffered(PaneCommand command, const PaneFacts& f) {
  switch (command) {
  case PaneCommand::SelectAll:
  case PaneCommand::Export:
    return true;
  default:
    break;
  }
  if (!f.withCommands)
    return false;
  switch (command) {
  case PaneCommand::Add:
    return f.canAdd && f.addVariants > 0;
  case PaneCommand::Remove:
    return f.canRemove;
  case PaneCommand::Enable:
  case PaneCommand::Disable:
    return f.hasDisabled && f.canChange;
  case PaneCommand::Comment:
    return f.hasComment && f.canChange;
  case PaneCommand::Paste:
    return f.canPaste;
  case PaneCommand::Filter:
    return f.canFilter;
  case PaneCommand::Freeze:
    return f.canFreeze;
  case PaneCommand::Copy:
  case PaneCommand::Refresh:
    return true;
  default:
    return false;
  }
}

bool commandEnabled(PaneCommand command, const PaneFacts& f) {
  if (!commandOffered(command, f))
    return false;
  switch (command) {
  case PaneCommand::Remove:
  case PaneCommand::Enable:
  case PaneCommand::Disable:
  case PaneCommand::Comment:
  case PaneCommand::Copy:
    return f.selected > 0;
  case PaneCommand::SelectAll:
  case PaneCommand::Export:
    return f.rows > 0;
  case PaneCommand::Paste:
    return f.pasteReady;
  default:
    return true;
  }
}

bool commandChecked(PaneCommand command, const PaneFacts& f) {
  if (command == PaneCommand::Filter)
    return f.filterShown;
  if (command == PaneCommand::Freeze)
    return f.frozen;
  return false;
}

PaneCommand commandForKey(const PaneKey& k, const PaneFacts& f) {
  PaneCommand c = PaneCommand::None;
  if (k.ctrl) {
    switch (k.key) {
    case 'A':
      c = PaneCommand::SelectAll;
      break;
    case 'E':
      c = PaneCommand::Enable;
      break;
    case 'D':
      c = PaneCommand::Disable;
      break;
    case 'M':
      c = PaneCommand::Comment;
      break;
    case kKeySlash:
      c = PaneCommand::Filter;
      break;
    case 'C':
      c = PaneCommand::Copy;
      break;
    case 'V':
      c = PaneCommand::Paste;
      break;
    default:
      break;
    }
  } else if (k.key == kKeyInsert) {
    c = PaneCommand::Add;
  } else if (k.key == kKeyDelete) {
    c = PaneCommand::Remove;
  } else if (k.key == kKeyPlus && k.keypad) {
    c = PaneCommand::Enable;
  } else if (k.key == kKeyMinus && k.keypad) {
    c = PaneCommand::Disable;
  } else if (k.key == kKeyF5) {
    c = PaneCommand::Refresh;
  }
  return c != PaneCommand::None && commandOffered(c, f) ? c : PaneCommand::None;
}

namespace {

MenuEntry entry(std::string text, PaneCommand command, bool enabled) {
  MenuEntry e;
  e.text = std::move(text);
  e.command = command;
  e.enabled = enabled;
  return e;
}

} // namespace

std::vector<MenuEntry> contextMenu(const PaneFacts& f, const std::vector<std::string>& addVariants,
                                   const std::vector<std::string>& extraCommands) {
  std::vector<MenuEntry> menu;
  menu.push_back(entry("Select All\tCtrl+A", PaneCommand::SelectAll,
                       commandEnabled(PaneCommand::SelectAll, f)));
  if (f.withCommands) {
    if (commandOffered(PaneCommand::Add, f)) {
      MenuEntry add = entry("Add\tINS", PaneCommand::Add, true);
      if (addVariants.size() > 1)
        add.submenu = addVariants;
      menu.push_back(add);
    }
    if (commandOffered(PaneCommand::Remove, f) && f.selected > 0)
      menu.push_back(entry("Remove\tDEL", PaneCommand::Remove, true));
    if (commandOffered(PaneCommand::Enable, f)) {
      menu.push_back(entry("Enable\tCtrl+E", PaneCommand::Enable, f.selected > 0));
      menu.push_back(entry("Disable\tCtrl+D", PaneCommand::Disable, f.selected > 0));
    }
    if (commandOffered(PaneCommand::Comment, f))
      menu.push_back(entry("Comment\tCtrl+M", PaneCommand::Comment, f.selected > 0));
    for (size_t i = 0; i < extraCommands.size(); ++i) {
      MenuEntry e = entry(extraCommands[i], PaneCommand::None, true);
      e.extra = static_cast<uint32_t>(i);
      menu.push_back(e);
    }
  }
  menu.push_back(entry("Export...", PaneCommand::Export, commandEnabled(PaneCommand::Export, f)));
  return menu;
}

} // namespace kestel
