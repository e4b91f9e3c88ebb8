// Helpers of the descriptor model tests: loading document texts into the current model and
// parsing single elements.
#pragma once

#include "gen/DescriptorLoader.h"
#include "gen/JSParser.h"
#include "gen/Service.h"
#include "support/ModelFixture.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

namespace kestel {

// Loads a document text through the service builder; "" on success, else the error text.
inline std::string loadText(const std::string& text) {
  std::istringstream in(text);
  Expected<void> r = loadDescriptorStream(in, buildService);
  return r ? std::string() : r.error().text;
}

// Loads a document and completes every type; "" on success, else the first error text.
inline std::string loadAndComplete(const std::string& text) {
  std::string e = loadText(text);
  if (!e.empty())
    return e;
  Expected<void> r = completeAllTypes();
  return r ? std::string() : r.error().text;
}

// One parsed element kept alive with its parser.
struct Parsed {
  std::unique_ptr<JSParser> parser = std::make_unique<JSParser>();
  const JSNode* node = nullptr;
  explicit Parsed(const std::string& text) {
    parser->feed(text);
    node = parser->finish();
  }
};

// Every test has a model context of its own.
class ModelTest : public test::ModelFixture {
protected:
  // The first type of the last service.
  CType& lastType() { return *services().back()->types().front(); }
};

} // namespace kestel
