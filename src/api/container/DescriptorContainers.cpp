#include "api/container/DescriptorContainers.h"

#include "api/container/MapFactories.h"
#include "gen/CType.h"

namespace kestel {

Reference<ObjectHolder> createObjectHolder(CItem& item, HolderRegistration registration) {
  if (!item.completed())
    return {};
  HolderConfig config = item.holderConfig();
  auto holder = createObjectHolder(item.createObject().get(), config.path, registration);
  holder->setCommands(config.setGet ? config.getCmd : CMD_GET,
                      config.setSet ? config.setCmd : CMD_SET);
  if (config.setRefresh)
    holder->setRefresh(config.refresh, config.refreshFilter);
  return holder;
}

Reference<ObjectAction> createObjectAction(CAction& action) {
  if (!action.completed())
    return {};
  ActionConfig config = action.createAction();
  auto live = createObjectAction(config.request.get(), config.reply.get(), config.path);
  live->setPollInterval(config.pollInterval);
  live->setCommands(config.startCmd, config.pollCmd, config.cancelCmd);
  return live;
}

Reference<SetupManager> createSetupManager(CSetup& setup) {
  if (!setup.completed())
    return {};
  return createSetupManager(createTypeFactory(setup).get(), setup.pathIds());
}

Reference<ObjectDoit> createObjectDoit(CDoit& doit) {
  if (!doit.completed())
    return {};
  auto live = createObjectDoit(doit.createObject().get(), doit.cmd, doit.pathIds());
  live->setErrorText(doit.errorPrefix);
  return live;
}

Reference<ObjectQuery> createObjectQuery(CQuery& query) {
  if (!query.completed())
    return {};
  CMap& rows = query.result();
  auto factory = createTypeFactory(rows);
  QueryResultsOptions results;
  results.ordered = query.ordered;
  if (query.getAllCmd != CMD_NONE)
    results.fetchAllCommand = query.getAllCmd;
  results.type = rows.title();
  auto live = makeRef<ObjectQuery>(query.createObject().get(), factory.get(),
                                   query.status().createObject().get(), query.pathIds(), results,
                                   query.autoLimit);
  live->setCommands(query.startCmd, query.cancelCmd);
  live->setRefresh(query.autoRefresh, query.refreshFilter);
  return live;
}

} // namespace kestel
