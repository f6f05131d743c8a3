#include "platform/camera/pipewire_link.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Link {
    int elements = 0;
    bool retired = false;
};

struct Links {
    std::mutex mutex;
    std::map<int, Link> open;
};

Links &links() {
    static Links *kept = new Links;
    return *kept;
}

// Where PipeWire's clients connect, found as libpipewire finds it.
std::string socketPath() {
    const char *remote = std::getenv("PIPEWIRE_REMOTE");
    std::string path = remote && *remote ? remote : "pipewire-0";
    if (path[0] == '/')
        return path;
    const char *folder = std::getenv("PIPEWIRE_RUNTIME_DIR");
    if (!folder || !*folder)
        folder = std::getenv("XDG_RUNTIME_DIR");
    if (!folder || !*folder)
        return std::string();
    return std::string(folder) + "/" + path;
}

// Under the lock.
void closeIfUnused(Links &all, std::map<int, Link>::iterator link) {
    if (!link->second.retired || link->second.elements > 0)
        return;
    close(link->first);
    all.open.erase(link);
}

void letGo(gpointer link, GObject *) {
    Links &all = links();
    std::lock_guard<std::mutex> lock(all.mutex);
    auto found = all.open.find(GPOINTER_TO_INT(link));
    if (found == all.open.end())
        return;
    --found->second.elements;
    closeIfUnused(all, found);
}

} // namespace

int connectPipeWire() {
    const std::string path = socketPath();
    sockaddr_un address = {};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // Non-blocking, so that a daemon too busy to take it is as good as none
    // for now; PipeWire's own traffic on it never waits either.
    const int link = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (link < 0)
        return -1;
    if (connect(link, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        close(link);
        return -1;
    }
    Links &all = links();
    std::lock_guard<std::mutex> lock(all.mutex);
    all.open[link] = Link{};
    return link;
}

bool pipeWireGone(int link) {
    // Asks for nothing to read, only whether the far end has closed: what
    // is waiting there belongs to the connection's users.
    pollfd state = {link, 0, 0};
    return poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void retirePipeWireLink(int link) {
    Links &all = links();
    std::lock_guard<std::mutex> lock(all.mutex);
    auto found = all.open.find(link);
    if (found == all.open.end())
        return;
    found->second.retired = true;
    closeIfUnused(all, found);
}

void holdPipeWireLinkFor(GstElement *element) {
    GParamSpec *property = g_object_class_find_property(G_OBJECT_GET_CLASS(element), "fd");
    if (!property || property->value_type != G_TYPE_INT)
        return;
    int link = -1;
    g_object_get(element, "fd", &link, nullptr);
    Links &all = links();
    std::lock_guard<std::mutex> lock(all.mutex);
    auto found = all.open.find(link);
    if (found == all.open.end())
        return;
    ++found->second.elements;
    g_object_weak_ref(G_OBJECT(element), letGo, GINT_TO_POINTER(link));
}
