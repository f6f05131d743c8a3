// Sends one udev event as udevd does, to the "udev" netlink group, in
// libudev's own message format, so libudev monitors (GStreamer's V4L2
// device provider) hear of a node plugged in or unplugged. Run as root in
// the test's private network namespace, it reaches only the test's monitors.
// Usage: udev_send ACTION DEVPATH SUBSYSTEM [KEY=VALUE...]
#include <arpa/inet.h>
#include <errno.h>
#include <linux/netlink.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

// The hash libudev's socket filter compares the subsystem with
// (systemd's string_hash32: MurmurHash2, seed 0).
static uint32_t murmur2(const char *key) {
    const uint32_t m = 0x5bd1e995;
    size_t len = strlen(key);
    uint32_t h = (uint32_t)len;
    const unsigned char *data = (const unsigned char *)key;
    for (; len >= 4; data += 4, len -= 4) {
        uint32_t k;
        memcpy(&k, data, 4);
        k *= m;
        k ^= k >> 24;
        k *= m;
        h = h * m ^ k;
    }
    switch (len) {
    case 3:
        h ^= (uint32_t)data[2] << 16;
        /* fall through */
    case 2:
        h ^= (uint32_t)data[1] << 8;
        /* fall through */
    case 1:
        h ^= data[0];
        h *= m;
    }
    h ^= h >> 13;
    h *= m;
    return h ^ (h >> 15);
}

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: udev_send ACTION DEVPATH SUBSYSTEM [KEY=VALUE...]\n");
        return 2;
    }
    char props[4096];
    size_t len = 0;
    len += (size_t)snprintf(props + len, sizeof props - len, "ACTION=%s", argv[1]) + 1;
    len += (size_t)snprintf(props + len, sizeof props - len, "DEVPATH=%s", argv[2]) + 1;
    len += (size_t)snprintf(props + len, sizeof props - len, "SUBSYSTEM=%s", argv[3]) + 1;
    len += (size_t)snprintf(props + len, sizeof props - len, "SEQNUM=%ld", (long)time(NULL)) + 1;
    for (int i = 4; i < argc && len < sizeof props - 256; i++)
        len += (size_t)snprintf(props + len, sizeof props - len, "%s", argv[i]) + 1;

    struct {
        char prefix[8];
        uint32_t magic, header_size, properties_off, properties_len;
        uint32_t subsystem_hash, devtype_hash, tag_bloom_hi, tag_bloom_lo;
    } header = {"libudev",
                htonl(0xfeedcafe),
                sizeof header,
                sizeof header,
                (uint32_t)len,
                htonl(murmur2(argv[3])),
                0,
                0,
                0};
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    struct sockaddr_nl to = {.nl_family = AF_NETLINK, .nl_groups = 2};
    struct iovec iov[2] = {{&header, sizeof header}, {props, len}};
    struct msghdr msg = {
        .msg_name = &to, .msg_namelen = sizeof to, .msg_iov = iov, .msg_iovlen = 2};
    // As udevd: no one listening (ECONNREFUSED) is no failure.
    if (fd < 0 || (sendmsg(fd, &msg, 0) < 0 && errno != ECONNREFUSED)) {
        perror("udev_send");
        return 1;
    }
    close(fd);
    return 0;
}
