#include "app/ChangeList.h"

#include <ctime>

namespace kestel {
namespace {

std::string headerText(const ChangeLog::Group& group) {
  return "Safe Mode session (" + std::to_string(group.count) +
         (group.count == 1 ? " change)" : " changes)");
}

const char* const kKindTexts[] = {"changed", "added", "removed"};

bool inEffect(const ChangeRecord& c) { return c.state == ChangeState::Succeeded && !c.undone; }

} // namespace

std::string localChangeTime(int64_t ms) {
  time_t seconds = static_cast<time_t>(ms / 1000), now = std::time(nullptr);
  struct tm at {
  }, today{};
  localtime_r(&seconds, &at);
  localtime_r(&now, &today);
  char text[32];
  const char* format =
      at.tm_year == today.tm_year && at.tm_yday == today.tm_yday ? "%H:%M:%S" : "%Y-%m-%d %H:%M:%S";
  strftime(text, sizeof text, format, &at);
  return text;
}

std::string changeFieldsText(const ChangeRecord& change) {
  std::string text;
  if (change.reverts != 0)
    text = "reverts #" + std::to_string(change.reverts);
  for (const FieldDiff& d : change.fields) {
    if (!text.empty())
      text += "; ";
    text += d.field + ": ";
    if (change.kind == ChangeKind::Remove)
      text += d.before;
    else if (change.kind == ChangeKind::Add && d.before.empty())
      text += d.after;
    else
      text += d.before + " -> " + d.after;
  }
  return text;
}

std::string changeResultText(const ChangeRecord& change) {
  if (change.state == ChangeState::Waiting)
    return "waiting";
  if (change.state == ChangeState::Failed)
    return "failed";
  if (change.undone)
    return "undone";
  if (change.revertedBy != 0)
    return "reverted by #" + std::to_string(change.revertedBy);
  return "done";
}

std::vector<ChangeRow> changeRows(const ChangeLog& log, const ChangeTimeText& time) {
  std::vector<ChangeRow> rows;
  const auto& records = log.records();
  for (const ChangeLog::Group& group : log.groups()) {
    bool grouped = group.safeMode != kNoSafeMode;
    if (grouped) {
      ChangeRow header;
      header.header = true;
      const ChangeRecord& first = records[group.first];
      header.texts[int(ChangeColumn::Time)] = time(first.time);
      header.texts[int(ChangeColumn::Menu)] = headerText(group);
      rows.push_back(std::move(header));
    }
    for (size_t i = group.first; i < group.first + group.count; ++i) {
      const ChangeRecord& c = records[i];
      ChangeRow row;
      row.number = c.number;
      row.inGroup = grouped;
      row.texts[int(ChangeColumn::Time)] = time(c.time);
      row.texts[int(ChangeColumn::Menu)] = c.menu;
      row.texts[int(ChangeColumn::Object)] = c.object + " " + kKindTexts[static_cast<int>(c.kind)];
      row.texts[int(ChangeColumn::Fields)] = changeFieldsText(c);
      row.texts[int(ChangeColumn::Result)] = changeResultText(c);
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

ChangeCommands changeCommands(const ChangeLog& log, size_t selected, bool busy) {
  ChangeCommands commands;
  const auto& records = log.records();
  for (const ChangeRecord& c : records) {
    commands.undo = commands.undo || inEffect(c);
    commands.exportScript = commands.exportScript || inEffect(c);
  }
  // Redo follows the router's order: the newest change that took effect must be undone.
  for (auto it = records.rbegin(); it != records.rend(); ++it)
    if (it->state == ChangeState::Succeeded) {
      commands.redo = it->undone;
      break;
    }
  if (busy)
    commands.undo = commands.redo = false;
  if (const ChangeRecord* c = log.find(selected))
    commands.revert = inEffect(*c) && c->revertedBy == 0;
  return commands;
}

} // namespace kestel
