// V4L2 cameras that exist only in a test: preloaded into the program, it
// answers open/ioctl/mmap for the /dev/videoN nodes the file
// $V4L2_CAMERA_DIR/cameras describes, one line a node:
//   MINOR KIND FORMAT:WxH@FPS,WxH@FPS... [FORMAT:...] | CARD
// KIND: uvc (video capture), meta (metadata only), ipu6 (raw node of a media
// controller whose STREAMON fails with EPIPE), loopback (an output node until
// videoN.producing exists, as v4l2loopback with exclusive_caps). FORMAT:
// YUYV, MJPG or GREY.
// Flag files beside it change a node's behaviour while they exist:
// videoN.deny (EACCES at open), videoN.busy (EBUSY at S_FMT/REQBUFS, as
// uvcvideo answers while another file streams), videoN.gone (ENODEV and
// POLLERR: unplugged), videoN.silent (no more pictures).
// Each open file is an eventfd, so poll and select see a picture ready.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
// jpeglib.h needs stdio.h before it.
#include <jpeglib.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum { MAX_MODES = 16, MAX_FILES = 32, MAX_BUFFERS = 16 };

struct mode {
    uint32_t format, width, height, fps;
};

struct node {
    int minor, nmodes;
    char kind[16], card[32];
    struct mode modes[MAX_MODES];
};

struct file {
    int fd, refs, nonblock, streaming, nbuffers, stop, dead;
    struct node node;
    struct mode mode;
    uint32_t sizeimage, stride, sequence, jpeg_size;
    uint8_t *frame;
    // One memfd a buffer: mapped by mmap, handed out by VIDIOC_EXPBUF.
    int memfd[MAX_BUFFERS];
    uint8_t *map[MAX_BUFFERS];
    struct v4l2_buffer buf[MAX_BUFFERS];
    uint64_t queued_order[MAX_BUFFERS], order;
    pthread_t thread;
};

// Open descriptors: dup'ed ones (GStreamer's buffer pool dups) share a file.
static struct slot {
    int fd;
    struct file *file;
} slots[MAX_FILES];
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static int (*real_open)(const char *, int, ...);
static int (*real_close)(int);
static int (*real_dup)(int);
static int (*real_ioctl)(int, unsigned long, ...);
static void *(*real_mmap)(void *, size_t, int, int, int, off_t);

// Resolved on first use: other libraries' constructors may open files
// before this library's would run.
static void init(void) {
    if (real_mmap)
        return;
    real_open = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    real_close = (int (*)(int))dlsym(RTLD_NEXT, "close");
    real_dup = (int (*)(int))dlsym(RTLD_NEXT, "dup");
    real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    real_mmap = (void *(*)(void *, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
}

static const char *dir(void) {
    const char *d = getenv("V4L2_CAMERA_DIR");
    return d ? d : "/nonexistent";
}

static int flag(int minor, const char *what) {
    char path[512];
    snprintf(path, sizeof path, "%s/video%d.%s", dir(), minor, what);
    return access(path, F_OK) == 0;
}

// What the test reads back: which mode the program asked for.
static void note(int minor, const char *fmt, ...) {
    char path[512], line[256];
    snprintf(path, sizeof path, "%s/log", dir());
    int n = snprintf(line, sizeof line, "video%d ", minor);
    va_list ap;
    va_start(ap, fmt);
    n += vsnprintf(line + n, sizeof line - n - 1, fmt, ap);
    va_end(ap);
    line[n++] = '\n';
    int fd = real_open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (write(fd, line, n) < 0) { /* the log is best effort */
        }
        real_close(fd);
    }
}

static int find_node(int minor, struct node *out) {
    char path[512], line[512];
    snprintf(path, sizeof path, "%s/cameras", dir());
    FILE *f = fopen(path, "re");
    if (!f)
        return 0;
    int found = 0;
    while (!found && fgets(line, sizeof line, f)) {
        char *bar = strchr(line, '|'), *save = NULL;
        if (!bar)
            continue;
        *bar = 0;
        memset(out, 0, sizeof *out);
        snprintf(out->card, sizeof out->card, "%s", bar + 1 + strspn(bar + 1, " "));
        out->card[strcspn(out->card, "\n")] = 0;
        char *tok = strtok_r(line, " ", &save);
        if (!tok || atoi(tok) != minor)
            continue;
        out->minor = minor;
        snprintf(out->kind, sizeof out->kind, "%s", strtok_r(NULL, " ", &save));
        while ((tok = strtok_r(NULL, " ", &save))) {
            uint32_t fourcc = v4l2_fourcc(tok[0], tok[1], tok[2], tok[3]);
            for (char *m = strtok(tok + 5, ","); m && out->nmodes < MAX_MODES;
                 m = strtok(NULL, ",")) {
                struct mode *md = &out->modes[out->nmodes];
                if (sscanf(m, "%ux%u@%u", &md->width, &md->height, &md->fps) == 3) {
                    md->format = fourcc;
                    out->nmodes++;
                }
            }
        }
        found = 1;
    }
    fclose(f);
    return found;
}

static struct file *file_of(int fd) {
    for (int i = 0; i < MAX_FILES; i++)
        if (slots[i].file && slots[i].fd == fd)
            return slots[i].file;
    return NULL;
}

static void add_slot(int fd, struct file *f) {
    for (int i = 0; i < MAX_FILES; i++)
        if (!slots[i].file) {
            slots[i].fd = fd;
            slots[i].file = f;
            f->refs++;
            return;
        }
}

static int fake_open(const char *path, int flags) {
    int minor;
    char rest;
    struct node node;
    if (!path || sscanf(path, "/dev/video%d%c", &minor, &rest) != 1 || !find_node(minor, &node) ||
        flag(minor, "gone"))
        return -2;
    if (flag(minor, "deny")) {
        errno = EACCES;
        return -1;
    }
    struct file *f = calloc(1, sizeof *f);
    f->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
    f->nonblock = (flags & O_NONBLOCK) != 0;
    f->node = node;
    f->mode = node.modes[0];
    pthread_mutex_lock(&lock);
    add_slot(f->fd, f);
    pthread_mutex_unlock(&lock);
    return f->fd;
}

#define OPEN_WRAPPER(name, ...)                                                                    \
    int name(__VA_ARGS__, int flags, ...) {                                                        \
        va_list ap;                                                                                \
        va_start(ap, flags);                                                                       \
        mode_t mode = va_arg(ap, mode_t);                                                          \
        va_end(ap);                                                                                \
        init();                                                                                    \
        int fd = fake_open(path, flags);                                                           \
        return fd != -2 ? fd : OPEN_REAL;                                                          \
    }
#define OPEN_REAL real_open(path, flags, mode)
OPEN_WRAPPER(open, const char *path)
OPEN_WRAPPER(open64, const char *path)
#undef OPEN_REAL
#define OPEN_REAL openat_real(dirfd, path, flags, mode)
static int openat_real(int dirfd, const char *path, int flags, mode_t mode) {
    static int (*real)(int, const char *, int, ...);
    if (!real)
        real = (int (*)(int, const char *, int, ...))dlsym(RTLD_NEXT, "openat");
    return real(dirfd, path, flags, mode);
}
OPEN_WRAPPER(openat, int dirfd, const char *path)
OPEN_WRAPPER(openat64, int dirfd, const char *path)
int __open_2(const char *path, int flags) { return open(path, flags, 0); }
int __open64_2(const char *path, int flags) { return open(path, flags, 0); }

static uint32_t image_size(const struct mode *m, uint32_t *stride) {
    *stride = m->format == V4L2_PIX_FMT_YUYV ? m->width * 2 : m->width;
    if (m->format == V4L2_PIX_FMT_MJPEG)
        *stride = 0;
    return m->format == V4L2_PIX_FMT_MJPEG ? m->width * m->height * 2 : *stride * m->height;
}

// SMPTE-like bars: seven bars white to blue over the top two thirds, a
// dark blue quarter at the bottom left. A picture wider than 4:3 gets red
// bands outside its 4:3 centre, which a program cutting to 4:3 hides.
static void bar_colour(const struct mode *m, uint32_t x, uint32_t y, uint8_t rgb[3]) {
    static const uint8_t bars[7][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235},
                                       {16, 235, 16},   {235, 16, 235}, {235, 16, 16},
                                       {16, 16, 235}};
    uint32_t w = m->height * 4 / 3 < m->width ? m->height * 4 / 3 : m->width;
    uint32_t left = (m->width - w) / 2;
    if (x < left || x >= left + w) {
        memcpy(rgb, bars[5], 3);
    } else if (y < m->height * 2 / 3) {
        memcpy(rgb, bars[(x - left) * 7 / w], 3);
    } else {
        const uint8_t dark_blue[3] = {0, 30, 130}, black[3] = {16, 16, 16};
        memcpy(rgb, (x - left) < w / 4 ? dark_blue : black, 3);
    }
}

static uint8_t luma(const uint8_t c[3]) {
    return (uint8_t)((66 * c[0] + 129 * c[1] + 25 * c[2] + 128) / 256 + 16);
}

// The one picture each frame copies, drawn when streaming starts.
static void draw(struct file *f) {
    const struct mode *m = &f->mode;
    free(f->frame);
    f->frame = calloc(1, f->sizeimage);
    uint8_t c[3], d[3];
    if (m->format == V4L2_PIX_FMT_MJPEG) {
        struct jpeg_compress_struct cinfo;
        struct jpeg_error_mgr err;
        unsigned char *out = NULL;
        unsigned long size = 0;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        jpeg_mem_dest(&cinfo, &out, &size);
        cinfo.image_width = m->width;
        cinfo.image_height = m->height;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 80, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        uint8_t *row = malloc(m->width * 3);
        while (cinfo.next_scanline < m->height) {
            for (uint32_t x = 0; x < m->width; x++)
                bar_colour(m, x, cinfo.next_scanline, row + 3 * x);
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        free(row);
        f->jpeg_size = size < f->sizeimage ? size : f->sizeimage;
        memcpy(f->frame, out, f->jpeg_size);
        free(out);
        return;
    }
    for (uint32_t y = 0; y < m->height; y++) {
        uint8_t *p = f->frame + y * f->stride;
        for (uint32_t x = 0; x < m->width; x += 2) {
            bar_colour(m, x, y, c);
            bar_colour(m, x + 1, y, d);
            if (m->format == V4L2_PIX_FMT_GREY) {
                p[x] = luma(c);
                p[x + 1] = luma(d);
                continue;
            }
            int r = (c[0] + d[0]) / 2, g = (c[1] + d[1]) / 2, b = (c[2] + d[2]) / 2;
            p[2 * x] = luma(c);
            p[2 * x + 1] = (uint8_t)((-38 * r - 74 * g + 112 * b + 128) / 256 + 128);
            p[2 * x + 2] = luma(d);
            p[2 * x + 3] = (uint8_t)((112 * r - 94 * g - 18 * b + 128) / 256 + 128);
        }
    }
}

// Unplugged: the file stays open but is now a pipe without readers, which
// poll reports as POLLERR, as the kernel does for an unregistered node.
static void unplug(struct file *f) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0)
        return;
    real_close(p[0]);
    for (int i = 0; i < MAX_FILES; i++)
        if (slots[i].file == f)
            dup3(p[1], slots[i].fd, O_CLOEXEC);
    real_close(p[1]);
}

static void *stream(void *arg) {
    struct file *f = arg;
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
        next.tv_nsec += 1000000000L / f->mode.fps;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            next.tv_sec++;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL);
        pthread_mutex_lock(&lock);
        if (f->stop) {
            pthread_mutex_unlock(&lock);
            return NULL;
        }
        if (f->dead || flag(f->node.minor, "gone")) {
            if (!f->dead)
                unplug(f);
            f->dead = 1;
        } else if (!flag(f->node.minor, "silent")) {
            int first = -1;
            for (int i = 0; i < f->nbuffers; i++)
                if ((f->buf[i].flags & V4L2_BUF_FLAG_QUEUED) &&
                    (first < 0 || f->queued_order[i] < f->queued_order[first]))
                    first = i;
            if (first >= 0) {
                struct v4l2_buffer *b = &f->buf[first];
                memcpy(f->map[first], f->frame, f->sizeimage);
                b->bytesused = f->mode.format == V4L2_PIX_FMT_MJPEG ? f->jpeg_size : f->sizeimage;
                b->flags = (b->flags & ~V4L2_BUF_FLAG_QUEUED) | V4L2_BUF_FLAG_DONE |
                           V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
                b->sequence = f->sequence++;
                struct timespec now;
                clock_gettime(CLOCK_MONOTONIC, &now);
                b->timestamp.tv_sec = now.tv_sec;
                b->timestamp.tv_usec = now.tv_nsec / 1000;
                f->queued_order[first] = ++f->order; // done in this order
                uint64_t one = 1;
                if (write(f->fd, &one, sizeof one) < 0) { /* unplugged meanwhile */
                }
            }
        }
        pthread_mutex_unlock(&lock);
    }
}

static void stop_stream(struct file *f) {
    if (!f->streaming)
        return;
    f->stop = 1;
    pthread_mutex_unlock(&lock);
    pthread_join(f->thread, NULL);
    pthread_mutex_lock(&lock);
    f->stop = 0;
    f->streaming = 0;
    uint64_t count;
    while (read(f->fd, &count, sizeof count) > 0) {
    }
    for (int i = 0; i < f->nbuffers; i++)
        f->buf[i].flags &= ~(V4L2_BUF_FLAG_QUEUED | V4L2_BUF_FLAG_DONE);
}

static void free_buffers(struct file *f) {
    for (int i = 0; i < f->nbuffers; i++) {
        munmap(f->map[i], f->buf[i].length);
        real_close(f->memfd[i]);
    }
    f->nbuffers = 0;
}

int close(int fd) {
    init();
    pthread_mutex_lock(&lock);
    struct file *f = file_of(fd);
    for (int i = 0; f && i < MAX_FILES; i++)
        if (slots[i].file == f && slots[i].fd == fd)
            slots[i].file = NULL;
    if (f && --f->refs == 0) {
        stop_stream(f);
        free_buffers(f);
        free(f->frame);
        free(f);
    }
    pthread_mutex_unlock(&lock);
    return real_close(fd);
}

int dup(int fd) {
    init();
    pthread_mutex_lock(&lock);
    int copy = real_dup(fd);
    struct file *f = file_of(fd);
    if (f && copy >= 0)
        add_slot(copy, f);
    pthread_mutex_unlock(&lock);
    return copy;
}

// The file is a character device to fstat, as PipeWire's V4L2 plugin checks.
int fstat(int fd, struct stat *st) {
    static int (*real)(int, struct stat *);
    if (!real)
        real = (int (*)(int, struct stat *))dlsym(RTLD_NEXT, "fstat");
    pthread_mutex_lock(&lock);
    struct file *f = file_of(fd);
    int minor = f ? f->node.minor : -1;
    pthread_mutex_unlock(&lock);
    if (minor < 0)
        return real(fd, st);
    char path[32];
    snprintf(path, sizeof path, "/dev/video%d", minor);
    return stat(path, st);
}
int fstat64(int fd, struct stat64 *st) { return fstat(fd, (struct stat *)st); }

void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off) {
    init();
    pthread_mutex_lock(&lock);
    struct file *f = file_of(fd);
    int memfd = fd;
    if (f) {
        uint32_t i = f->nbuffers ? (uint32_t)(off / f->buf[0].length) : 0;
        memfd = i < (uint32_t)f->nbuffers ? f->memfd[i] : -1;
        off = 0;
    }
    pthread_mutex_unlock(&lock);
    // Anonymous maps (fd -1) are the process's own.
    if (f && memfd < 0) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    return real_mmap(addr, len, prot, flags, memfd, off);
}
void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off_t off) {
    return mmap(addr, len, prot, flags, fd, off);
}

static const struct mode *nearest(const struct node *n, uint32_t format, uint32_t w, uint32_t h) {
    const struct mode *best = NULL;
    int has_format = 0;
    for (int i = 0; i < n->nmodes; i++)
        has_format |= n->modes[i].format == format;
    for (int i = 0; i < n->nmodes; i++) {
        const struct mode *m = &n->modes[i];
        if (has_format ? m->format != format : m->format != n->modes[0].format)
            continue;
        long d = labs((long)m->width - w) + labs((long)m->height - h);
        if (!best || d < labs((long)best->width - w) + labs((long)best->height - h))
            best = m;
    }
    return best;
}

static void fill_format(const struct mode *m, struct v4l2_format *fmt) {
    memset(&fmt->fmt.pix, 0, sizeof fmt->fmt.pix);
    fmt->fmt.pix.pixelformat = m->format;
    fmt->fmt.pix.width = m->width;
    fmt->fmt.pix.height = m->height;
    fmt->fmt.pix.field = V4L2_FIELD_NONE;
    fmt->fmt.pix.sizeimage = image_size(m, &fmt->fmt.pix.bytesperline);
    fmt->fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
}

static const char *fourcc(uint32_t f) {
    static __thread char s[5];
    memcpy(s, &f, 4);
    return s;
}

// One V4L2 call on a fake node; the result as the kernel gives it, with
// the error in errno.
static int answer(struct file *f, unsigned long req, void *arg) {
    const struct node *n = &f->node;
    const int loopback = !strcmp(n->kind, "loopback");
    int capture = strcmp(n->kind, "meta") != 0 && (!loopback || flag(n->minor, "producing"));
    uint32_t buf_type = capture ? V4L2_BUF_TYPE_VIDEO_CAPTURE : V4L2_BUF_TYPE_META_CAPTURE;
    // Once unplugged, a file stays dead even if its node comes back.
    if (f->dead || flag(n->minor, "gone")) {
        if (!f->dead)
            unplug(f);
        f->dead = 1;
        return ENODEV;
    }
    switch (req) {
    case VIDIOC_QUERYCAP: {
        struct v4l2_capability *cap = arg;
        memset(cap, 0, sizeof *cap);
        int ipu6 = !strcmp(n->kind, "ipu6");
        snprintf((char *)cap->driver, sizeof cap->driver, ipu6 ? "isys" : "uvcvideo");
        snprintf((char *)cap->card, sizeof cap->card, "%s", n->card);
        snprintf((char *)cap->bus_info, sizeof cap->bus_info,
                 ipu6 ? "PCI:0000:00:05.0" : "usb-0000:00:14.0-%d", n->minor / 2 + 1);
        cap->version = (6 << 16) | (1 << 8);
        cap->device_caps = (capture    ? V4L2_CAP_VIDEO_CAPTURE
                            : loopback ? V4L2_CAP_VIDEO_OUTPUT
                                       : V4L2_CAP_META_CAPTURE) |
                           V4L2_CAP_STREAMING | (ipu6 ? V4L2_CAP_IO_MC : V4L2_CAP_EXT_PIX_FORMAT);
        cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS |
                            (ipu6 ? 0 : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE);
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        struct v4l2_fmtdesc *d = arg;
        if (d->type != buf_type)
            return EINVAL;
        uint32_t seen = 0, last = 0;
        for (int i = 0; i < n->nmodes; i++) {
            if (n->modes[i].format == last)
                continue;
            last = n->modes[i].format;
            if (seen++ == d->index) {
                uint32_t index = d->index, type = d->type;
                memset(d, 0, sizeof *d);
                d->index = index;
                d->type = type;
                d->pixelformat = last;
                d->flags = last == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
                snprintf((char *)d->description, sizeof d->description, "%s", fourcc(last));
                return 0;
            }
        }
        return EINVAL;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        struct v4l2_frmsizeenum *s = arg;
        uint32_t seen = 0;
        for (int i = 0; i < n->nmodes; i++)
            if (n->modes[i].format == s->pixel_format && seen++ == s->index) {
                s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                s->discrete.width = n->modes[i].width;
                s->discrete.height = n->modes[i].height;
                return 0;
            }
        return EINVAL;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        struct v4l2_frmivalenum *v = arg;
        for (int i = 0; i < n->nmodes; i++) {
            const struct mode *m = &n->modes[i];
            if (m->format == v->pixel_format && m->width == v->width && m->height == v->height &&
                v->index == 0) {
                v->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                v->discrete.numerator = 1;
                v->discrete.denominator = m->fps;
                return 0;
            }
        }
        return EINVAL;
    }
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT: {
        struct v4l2_format *fmt = arg;
        if (fmt->type != buf_type || !capture)
            return EINVAL;
        if (req == VIDIOC_G_FMT) {
            fill_format(&f->mode, fmt);
            return 0;
        }
        const struct mode *m =
            nearest(n, fmt->fmt.pix.pixelformat, fmt->fmt.pix.width, fmt->fmt.pix.height);
        if (req == VIDIOC_S_FMT) {
            note(n->minor, "S_FMT %s %ux%u -> %s %ux%u", fourcc(fmt->fmt.pix.pixelformat),
                 fmt->fmt.pix.width, fmt->fmt.pix.height, fourcc(m->format), m->width, m->height);
            if (flag(n->minor, "busy"))
                return EBUSY;
            if (f->nbuffers)
                return EBUSY;
            f->mode = *m;
        }
        fill_format(m, fmt);
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        struct v4l2_streamparm *p = arg;
        if (p->type != buf_type || !capture)
            return EINVAL;
        if (req == VIDIOC_S_PARM)
            note(n->minor, "S_PARM %u/%u -> 1/%u", p->parm.capture.timeperframe.numerator,
                 p->parm.capture.timeperframe.denominator, f->mode.fps);
        memset(&p->parm, 0, sizeof p->parm);
        p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        p->parm.capture.timeperframe.numerator = 1;
        p->parm.capture.timeperframe.denominator = f->mode.fps;
        p->parm.capture.readbuffers = 0;
        return 0;
    }
    case VIDIOC_REQBUFS: {
        struct v4l2_requestbuffers *r = arg;
        if (r->type != buf_type || r->memory != V4L2_MEMORY_MMAP)
            return EINVAL;
        if (flag(n->minor, "busy"))
            return EBUSY;
        if (f->streaming)
            return EBUSY;
        free_buffers(f);
        r->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
        if (r->count == 0)
            return 0;
        if (r->count > MAX_BUFFERS)
            r->count = MAX_BUFFERS;
        f->sizeimage = image_size(&f->mode, &f->stride);
        uint32_t length = (f->sizeimage + 4095) & ~4095u;
        for (uint32_t i = 0; i < r->count; i++) {
            f->memfd[i] = memfd_create("v4l2-camera", MFD_CLOEXEC);
            if (f->memfd[i] < 0 || ftruncate(f->memfd[i], length) < 0)
                return ENOMEM;
            f->map[i] = real_mmap(NULL, length, PROT_READ | PROT_WRITE, MAP_SHARED, f->memfd[i], 0);
            f->nbuffers = i + 1;
            memset(&f->buf[i], 0, sizeof f->buf[i]);
            f->buf[i].index = i;
            f->buf[i].type = buf_type;
            f->buf[i].memory = V4L2_MEMORY_MMAP;
            f->buf[i].m.offset = i * length;
            f->buf[i].length = length;
            f->buf[i].field = V4L2_FIELD_NONE;
        }
        draw(f);
        return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF: {
        struct v4l2_buffer *b = arg;
        if (b->type != buf_type || b->index >= (uint32_t)f->nbuffers)
            return EINVAL;
        if (req == VIDIOC_QBUF) {
            if (f->buf[b->index].flags & (V4L2_BUF_FLAG_QUEUED | V4L2_BUF_FLAG_DONE))
                return EINVAL;
            f->buf[b->index].flags |= V4L2_BUF_FLAG_QUEUED;
            f->queued_order[b->index] = ++f->order;
        }
        *b = f->buf[b->index];
        b->flags |= V4L2_BUF_FLAG_MAPPED;
        return 0;
    }
    case VIDIOC_DQBUF: {
        struct v4l2_buffer *b = arg;
        if (b->type != buf_type || !f->streaming)
            return EINVAL;
        int done = -1;
        for (int i = 0; i < f->nbuffers; i++)
            if ((f->buf[i].flags & V4L2_BUF_FLAG_DONE) &&
                (done < 0 || f->queued_order[i] < f->queued_order[done]))
                done = i;
        if (done < 0)
            return EAGAIN;
        uint64_t count;
        if (read(f->fd, &count, sizeof count) < 0) { /* counted with the flags */
        }
        f->buf[done].flags &= ~V4L2_BUF_FLAG_DONE;
        *b = f->buf[done];
        b->flags |= V4L2_BUF_FLAG_MAPPED;
        return 0;
    }
    case VIDIOC_EXPBUF: {
        struct v4l2_exportbuffer *e = arg;
        if (e->type != buf_type || e->index >= (uint32_t)f->nbuffers)
            return EINVAL;
        e->fd = fcntl(f->memfd[e->index], (e->flags & O_CLOEXEC) ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
        return e->fd < 0 ? errno : 0;
    }
    case VIDIOC_STREAMON:
        note(n->minor, "STREAMON");
        if (!strcmp(n->kind, "ipu6"))
            return EPIPE;
        if (!f->nbuffers)
            return EINVAL;
        if (!f->streaming) {
            f->streaming = 1;
            f->sequence = 0;
            pthread_create(&f->thread, NULL, stream, f);
        }
        return 0;
    case VIDIOC_STREAMOFF:
        stop_stream(f);
        return 0;
    case VIDIOC_ENUMINPUT: {
        struct v4l2_input *in = arg;
        if (in->index != 0)
            return EINVAL;
        memset(in, 0, sizeof *in);
        snprintf((char *)in->name, sizeof in->name, "Camera 1");
        in->type = V4L2_INPUT_TYPE_CAMERA;
        return 0;
    }
    case VIDIOC_G_INPUT:
        *(int *)arg = 0;
        return 0;
    case VIDIOC_S_INPUT:
        return *(int *)arg == 0 ? 0 : EINVAL;
    case VIDIOC_QUERYCTRL:
    case VIDIOC_QUERY_EXT_CTRL:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL:
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS:
    case VIDIOC_TRY_EXT_CTRLS:
    case VIDIOC_QUERYMENU:
        return EINVAL; // no controls
    default:
        return ENOTTY;
    }
}

int ioctl(int fd, unsigned long req, ...) {
    va_list ap;
    va_start(ap, req);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    init();
    pthread_mutex_lock(&lock);
    struct file *f = file_of(fd);
    int error = 0;
    for (;;) {
        if (!f)
            break;
        // The kernel takes the request as 32 bits; some callers pass an int.
        error = answer(f, (unsigned int)req, arg);
        // A blocking DQBUF waits for the next picture, as the driver does.
        if (error != EAGAIN || f->nonblock)
            break;
        pthread_mutex_unlock(&lock);
        usleep(2000);
        pthread_mutex_lock(&lock);
        f = file_of(fd);
    }
    pthread_mutex_unlock(&lock);
    if (!f)
        return real_ioctl(fd, req, arg);
    if (error) {
        errno = error;
        return -1;
    }
    return 0;
}
