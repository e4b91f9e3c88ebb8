// Opening an object editor for an object with 60 fields, to the window shown and laid out. Both
// sides start from the same object and end with a shown, laid-out window holding its 60 values
// as editable text:
//  - Kestel: ObjectEditor over the object (layout from the type's slots, 3 tabs of 20 fields:
//    texts, numbers, addresses, drop-downs; a value view per field through its convertor; the
//    toolbar), shown;
//  - peer (the floor): a QFormLayout of 60 labelled QLineEdits filled with the same 60 values as
//    text (the texts are made before timing), shown.
// Each iteration builds, shows, lays out and deletes its window. Run off screen:
// QT_QPA_PLATFORM=offscreen is set when not given.
// The core's headers before Qt's (emit, slots).
#include "api/container/MapFactories.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/FieldText.h"
#include "gen/CType.h"
#include "gen/DescriptorLoader.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/ObjectLayout.h"
#include "miw/SlotConvertors.h"

#include "gui/ObjectEditor.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

// After the core's headers: Qt's "emit" and "slots" keywords would rename their members.
#include "QtBenchMain.h"

namespace {

using namespace kestel;

// A map type with 60 value fields in three tabs.
std::string sixtyFieldType() {
  std::string fields;
  auto add = [&](const std::string& s) { fields += (fields.empty() ? "" : ",\n") + s; };
  for (int i = 0; i < 60; ++i) {
    const std::string n = std::to_string(i);
    char id[8];
    std::snprintf(id, sizeof id, "%X", i + 1);
    if (i % 20 == 0)
      add(R"({"type": "tab", "name": "tab)" + n + R"(", "title": "Page )" + n + "\"}");
    switch (i % 4) {
    case 0:
      add(R"({"type": "string", "name": "s)" + n + R"(", "id": "s)" + id + R"(", "title": "Text )" +
          n + R"(", "def": "value )" + n + "\"}");
      break;
    case 1:
      add(R"({"type": "number", "name": "n)" + n + R"(", "id": "u)" + id +
          R"(", "title": "Number )" + n + R"(", "def": )" + std::to_string(1000 + i) + "}");
      break;
    case 2:
      add(R"({"type": "ipaddr", "name": "a)" + n + R"(", "id": "u)" + id +
          R"(", "title": "Address )" + n + "\"}");
      break;
    default:
      add(R"({"type": "enm", "name": "e)" + n + R"(", "id": "u)" + id + R"(", "title": "Choice )" +
          n + R"(", "values": {"type": "static", "map": ["one", "two", "three", "four"]}})");
      break;
    }
  }
  return std::string(
             R"([{"name": "Bench", "c": [{"type": "map", "title": "Sixty", "path": [9, 9], "c": [)") +
         fields + "]}]}]";
}

struct Fixture {
  ModelContext context;
  ModelScope modelScope{context};
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope scope{reactor};
  CMap* type = nullptr;
  Reference<ObjectMap> map;
  Reference<IObject> object;
  std::vector<std::pair<QString, QString>> texts; // label and value of each field, for the peer

  Fixture() {
    installSlotConvertors();
    std::istringstream in(sixtyFieldType());
    if (!loadDescriptorStream(in, buildService) || !completeAllTypes())
      return;
    type = static_cast<CMap*>(services().back()->types().front().get());
    map = createContainer(*type);
    object = type->createObject();
    object->setID(7);
    for (const LayoutField& f : layoutObject(*type, nullptr, false).fields)
      texts.emplace_back(QString::fromStdString(f.label),
                         QString::fromStdString(fieldText(*object, *f.slot)));
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void settle(QWidget& w) {
  w.show();
  QCoreApplication::sendPostedEvents();
  if (w.layout())
    w.layout()->activate();
}

void objectEditor(benchmark::State& state) {
  Fixture& f = fixture();
  if (!f.object) {
    state.SkipWithError("the benchmark's type did not load");
    return;
  }
  for (auto _ : state) {
    gui::ObjectEditor editor(*f.map, *f.object, {});
    settle(editor);
    benchmark::DoNotOptimize(editor.layout().fields.size());
  }
}

void formOfLineEdits(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    QWidget form;
    auto* layout = new QFormLayout(&form);
    for (const auto& [label, value] : f.texts)
      layout->addRow(new QLabel(label + ":"), new QLineEdit(value));
    settle(form);
    benchmark::DoNotOptimize(layout->rowCount());
  }
}

BENCHMARK(objectEditor)->Unit(benchmark::kMillisecond);
BENCHMARK(formOfLineEdits)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) { return kestel::bench::runQtBenchmarks(argc, argv); }
