#include "app/RemoteFileList.h"

#include "api/net/FileHandler.h"
#include "api/wire/Vocabulary.h"

namespace kestel {

uint32_t readFileListPage(const nv::message& reply, std::vector<RemoteFile>& out) {
  reply.forEach(STD_OBJS, [&](const nv::message& o) {
    std::string name = o.get(kFileListName);
    if (name.empty() || out.size() >= kMaxRemoteFiles)
      return;
    RemoteFile f;
    f.name = std::move(name);
    f.folder = o.get(kFileListType) == "directory";
    f.size = f.folder ? 0 : o.get(kFileListSize);
    out.push_back(std::move(f));
  });
  if (out.size() >= kMaxRemoteFiles)
    return 0xFFFFFFFF;
  return reply.get(STD_GETALLID, 0xFFFFFFFFu);
}

void RemoteFileList::fetch(Done done) {
  cancel();
  done_ = std::move(done);
  files_.clear();
  pages_ = 0;
  ask(0xFFFFFFFF);
}

void RemoteFileList::cancel() {
  if (pending_)
    port_.forget(std::exchange(pending_, 0));
  done_ = nullptr;
}

void RemoteFileList::ask(uint32_t from) {
  nv::message request;
  if (from != 0xFFFFFFFF)
    request.set(STD_GETALLID, from);
  pending_ = port_.request(kFileListHandler, CMD_GETALL, request, [this](const nv::message& reply) {
    pending_ = 0;
    unsigned int code = 0;
    std::string text;
    if (isError(reply, &code, &text)) {
      files_.clear();
      if (Done done = std::exchange(done_, nullptr))
        done({}, getErrorDescription(code, text));
      return;
    }
    uint32_t next = readFileListPage(reply, files_);
    if (next != 0xFFFFFFFF && ++pages_ >= kMaxPages) {
      files_.clear();
      if (Done done = std::exchange(done_, nullptr))
        done({}, "the file list does not end");
      return;
    }
    if (next != 0xFFFFFFFF)
      return ask(next);
    if (Done done = std::exchange(done_, nullptr))
      done(std::move(files_), {});
  });
}

} // namespace kestel
