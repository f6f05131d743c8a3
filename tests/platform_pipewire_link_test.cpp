#include "platform/camera/pipewire_link.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// A daemon's listening socket at PIPEWIRE_REMOTE, which is all a link needs.
struct Daemon {
    Daemon() {
        char folder[] = "/tmp/pwlinkXXXXXX";
        path = std::string(mkdtemp(folder)) + "/pipewire-0";
        listening = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        bind(listening, reinterpret_cast<sockaddr *>(&address), sizeof address);
        listen(listening, 4);
        setenv("PIPEWIRE_REMOTE", path.c_str(), 1);
    }
    // The daemon ends: its clients' connections close with it.
    void end() {
        if (listening < 0)
            return;
        for (int client; (client = accept(listening, nullptr, nullptr)) >= 0;)
            close(client);
        close(std::exchange(listening, -1));
        unlink(path.c_str());
    }
    ~Daemon() {
        end();
        rmdir(path.substr(0, path.rfind('/')).c_str());
        unsetenv("PIPEWIRE_REMOTE");
    }
    std::string path;
    int listening;
};

} // namespace

TEST(PipeWireLink, TellsWhenItsDaemonEndsAndClosesOnceNoElementUsesIt) {
    {
        Daemon none;
        none.end();
        EXPECT_EQ(connectPipeWire(), -1) << "no daemon listening";
    }
    Daemon daemon;
    const int link = connectPipeWire();
    ASSERT_GE(link, 0);
    EXPECT_FALSE(pipeWireGone(link));
    daemon.end();
    EXPECT_TRUE(pipeWireGone(link));

    // An element made through the link keeps it past its retirement.
    gst_init(nullptr, nullptr);
    GstElement *element = gst_element_factory_make("fdsrc", nullptr);
    ASSERT_NE(element, nullptr);
    g_object_set(element, "fd", link, nullptr);
    gst_object_ref_sink(element);
    holdPipeWireLinkFor(element);
    retirePipeWireLink(link);
    EXPECT_TRUE(isOpen(link)) << "still in use";
    gst_object_unref(element);
    EXPECT_FALSE(isOpen(link)) << "closed with its last element";

    Daemon again;
    const int unused = connectPipeWire();
    ASSERT_GE(unused, 0);
    retirePipeWireLink(unused);
    EXPECT_FALSE(isOpen(unused)) << "closed at once without elements";
}
