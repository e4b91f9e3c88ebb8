// The live containers that descriptor types describe: an item's holder, an action, a setup
// wizard, a one-shot command (and the terminal opener, which is one) and a query. Each is made
// from a completed type with the path, commands and refresh values its descriptor gave; objects
// come from the type (and, for actions and queries, from their reply, result and status types).
// Every function returns null when the type is not completed yet.
#pragma once

#include "api/container/Action.h"
#include "api/container/Doit.h"
#include "api/container/Holder.h"
#include "api/container/Query.h"
#include "api/container/SetupManager.h"

namespace kestel {

class CAction;
class CDoit;
class CItem;
class CQuery;
class CSetup;

// The item's holder: its object, path, refresh interval and filter, and its get and set
// commands (a read-only item has no set command).
Reference<ObjectHolder>
createObjectHolder(CItem& item, HolderRegistration registration = HolderRegistration::Register);
// The action with the type's request object, its reply type's object as status, the poll
// interval and the start, poll and cancel commands.
Reference<ObjectAction> createObjectAction(CAction& action);
// The wizard; its setup object is made from the type.
Reference<SetupManager> createSetupManager(CSetup& setup);
// The command with the type's object, command number and error prefix.
Reference<ObjectDoit> createObjectDoit(CDoit& doit);
// The query with the type's request object, rows made from its result type (in the router's
// order when "ordered"), its status type's object, its start and stop ("cancelcmd") commands,
// fetch-all command, refresh interval and filter; it keeps the "autolimit" value.
Reference<ObjectQuery> createObjectQuery(CQuery& query);

} // namespace kestel
