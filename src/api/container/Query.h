// A query: a router-side search whose result rows arrive as objects in an object map that the
// query makes (ordered when asked; it never asks for defaults). Starting packs the request
// object; with a start command the router gives the query an id that every request of the
// results map then carries, without one the request's own keys go with every request of the
// results map. Stopping tells the router (one-way, with the query id) and ends the map's
// refreshing. Listeners learn the running state; the rows are read from results().
#pragma once

#include "api/container/ContainerBase.h"
#include "api/container/ObjectMap.h"
#include "api/object/Object.h"
#include "util/Base.h"

#include <cstdint>

namespace kestel {

class ObjectQuery;

class IQueryListener : public IBase {
public:
  virtual void runStateChanged(ObjectQuery& query, bool running) = 0;
};

// How the results map is made besides the factory and the path.
struct QueryResultsOptions {
  bool ordered = false;
  uint32_t fetchAllCommand = CMD_GETALL;
  std::string type; // getType() of the rows
};

class ObjectQuery final : public IBase, public ContainerBase {
public:
  ObjectQuery(IObject* request, IObjectFactory* rowFactory, IObject* status, Path path,
              const QueryResultsOptions& results, uint32_t extra);

  // The start and stop commands; kNoId for none (the default: the descriptor sets them).
  void setCommands(uint32_t start, uint32_t stop);
  // The refresh interval (ms) and policy mask the results map gets when the query starts.
  void setRefresh(uint32_t intervalMs, uint32_t policy);

  // Stops the previous run and starts again. With a start command the query runs from the
  // moment the request is sent; a refusal shows "Couldn't start" with the router's error and
  // ends it. Without a router connection it does not start.
  void start();
  // Only while running: ends the run, sends the stop command with the query id when both
  // exist, and stops the results map's refreshing. A start reply that arrives after the stop
  // has its query stopped on the router too.
  void stop();

  bool running() const { return running_; }
  // The id the router gave (or the request's own STD_ID); kNoId when none.
  uint32_t queryId() const { return queryId_; }
  ObjectMap* results() const { return results_.get(); }
  IObject* requestObject() const { return request_.get(); }
  IObject* status() const { return status_.get(); }
  // The value the query was made with, kept for its window.
  uint32_t extra() const { return extra_; }

  void addListener(IQueryListener* listener) { listeners_.add(listener); }
  void removeListener(IQueryListener* listener) { listeners_.remove(listener); }

private:
  void onStartReply(uint64_t run, const nv::message& reply);
  void sendStop(uint32_t id);
  void setRunning(bool running);

  Reference<IObject> request_, status_;
  Reference<ObjectMap> results_;
  CommandEntry start_, stop_;
  uint32_t intervalMs_ = 0, policy_ = 0;
  uint32_t queryId_ = kNoId;
  uint32_t extra_;
  bool running_ = false;
  uint64_t run_ = 0; // changes with every start and stop: older start replies are recognised
  ListenerList<IQueryListener> listeners_;
};

// A query with its request object, row factory, status object, path (ending at the first
// 0xFFFFFFFF), ordered-results flag and the value it keeps.
Reference<ObjectQuery> createObjectQuery(IObject* request, IObjectFactory* rowFactory,
                                         IObject* status, const Path& path, bool ordered,
                                         uint32_t extra);

} // namespace kestel
