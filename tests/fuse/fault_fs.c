/* A read-only file system for the window tests that fails on purpose.
 *
 *   fault_fs MOUNTPOINT STATEDIR [fuse options]
 *
 * Under MOUNTPOINT it serves:
 *   eio.bin          40000 bytes; a read that reaches byte 20480 fails with EIO
 *   hold.bin         10000 bytes; every read waits until STATEDIR/release
 *                    exists (STATEDIR/held counts the reads that began waiting)
 *   slow.bin         300000 bytes; every read takes 50 ms, like a slow share
 *   holddir/ x.txt   a folder whose listing waits like a read of hold.bin
 *   devices/         aux.txt com1 nul con prn.log nul.txt plain.txt, small
 *                    text files named like devices
 *   lookup/ f.bin    300 bytes; while STATEDIR/hold-lookups exists, looking
 *                    f.bin up waits like a read of hold.bin (a share that
 *                    has gone away after the file was picked)
 *   ids/             a folder whose subfolders lie about their identity:
 *     a/ a.txt       a reports the inode number of ids, its parent
 *     b/ b.txt       b and c report the same inode number
 *     c/ c.txt
 * Every open of a file appends its path to STATEDIR/opens.
 * File contents are a pattern of the node's number and the byte offset
 * (see fill), so the tests can compute the digests themselves; the device
 * names hold their own name and a line feed.
 * Directory and file data are never cached by the kernel (direct I/O, no
 * attribute caching), so every read reaches the handlers below.
 */
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum kind { FOLDER, PATTERN, TEXT };
enum fault { NONE, EIO_AT, HOLD, SLOW, LOOKUP_HOLD };

struct node {
    const char *path;
    enum kind kind;
    unsigned long ino;
    off_t size;
    enum fault fault;
};

static const struct node nodes[] = {
    {"/", FOLDER, 1, 0, NONE},
    {"/eio.bin", PATTERN, 10, 40000, EIO_AT},
    {"/hold.bin", PATTERN, 11, 10000, HOLD},
    {"/slow.bin", PATTERN, 12, 300000, SLOW},
    {"/holddir", FOLDER, 13, 0, HOLD},
    {"/holddir/x.txt", PATTERN, 14, 10, NONE},
    {"/devices", FOLDER, 20, 0, NONE},
    {"/devices/aux.txt", TEXT, 21, 0, NONE},
    {"/devices/com1", TEXT, 22, 0, NONE},
    {"/devices/nul", TEXT, 23, 0, NONE},
    {"/devices/con", TEXT, 24, 0, NONE},
    {"/devices/prn.log", TEXT, 25, 0, NONE},
    {"/devices/nul.txt", TEXT, 26, 0, NONE},
    {"/devices/plain.txt", TEXT, 27, 0, NONE},
    {"/lookup", FOLDER, 30, 0, NONE},
    {"/lookup/f.bin", PATTERN, 31, 300, LOOKUP_HOLD},
    {"/ids", FOLDER, 1000, 0, NONE},
    {"/ids/a", FOLDER, 1000, 0, NONE},
    {"/ids/a/a.txt", PATTERN, 1011, 100, NONE},
    {"/ids/b", FOLDER, 2000, 0, NONE},
    {"/ids/b/b.txt", PATTERN, 1012, 200, NONE},
    {"/ids/c", FOLDER, 2000, 0, NONE},
    {"/ids/c/c.txt", PATTERN, 1013, 300, NONE},
};
static const int node_count = sizeof nodes / sizeof nodes[0];

static const off_t eio_offset = 20480;
static char state_dir[4096];

static const struct node *find(const char *path) {
    for (int i = 0; i < node_count; ++i)
        if (strcmp(nodes[i].path, path) == 0) return &nodes[i];
    return NULL;
}

static const char *base_name(const char *path) { return strrchr(path, '/') + 1; }

static off_t size_of(const struct node *n) {
    return n->kind == TEXT ? (off_t)strlen(base_name(n->path)) + 1 : n->size;
}

/* Byte i of a pattern file: (i * 31 + node number) mod 251. */
static void fill(const struct node *n, char *buf, off_t offset, size_t len) {
    if (n->kind == TEXT) {
        const char *name = base_name(n->path);
        for (size_t i = 0; i < len; ++i) {
            const size_t at = (size_t)offset + i;
            buf[i] = at < strlen(name) ? name[at] : '\n';
        }
        return;
    }
    for (size_t i = 0; i < len; ++i)
        buf[i] = (char)(((unsigned long long)(offset + (off_t)i) * 31 + n->ino) % 251);
}

static int state_exists(const char *name) {
    char path[4200];
    snprintf(path, sizeof path, "%s/%s", state_dir, name);
    return access(path, F_OK) == 0;
}

/* Appends one line to the state file name. */
static void note(const char *name, const char *line) {
    char path[4200];
    snprintf(path, sizeof path, "%s/%s", state_dir, name);
    FILE *f = fopen(path, "a");
    if (f) {
        fprintf(f, "%s\n", line);
        fclose(f);
    }
}

/* STATEDIR/held: a read has begun to wait. */
static void note_held(void) { note("held", "held"); }

/* Waits until STATEDIR/release exists; two minutes at most, so that no
 * test run can hang on it. */
static void hold(void) {
    if (state_exists("release")) return;
    note_held();
    for (int i = 0; i < 24000 && !state_exists("release"); ++i) usleep(5000);
}

static void *ff_init(struct fuse_conn_info *conn, struct fuse_config *cfg) {
    (void)conn;
    cfg->use_ino = 1;
    cfg->direct_io = 1;
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    return NULL;
}

static int ff_getattr(const char *path, struct stat *st, struct fuse_file_info *fi) {
    (void)fi;
    const struct node *n = find(path);
    if (!n) return -ENOENT;
    if (n->fault == LOOKUP_HOLD && state_exists("hold-lookups")) hold();
    memset(st, 0, sizeof *st);
    st->st_ino = n->ino;
    st->st_mode = n->kind == FOLDER ? S_IFDIR | 0555 : S_IFREG | 0444;
    st->st_nlink = n->kind == FOLDER ? 2 : 1;
    st->st_size = size_of(n);
    st->st_mtime = st->st_ctime = st->st_atime = 1700000000;
    return 0;
}

static int ff_readdir(const char *path, void *buf, fuse_fill_dir_t add, off_t offset, struct fuse_file_info *fi,
                      enum fuse_readdir_flags flags) {
    (void)offset, (void)fi, (void)flags;
    const struct node *dir = find(path);
    if (!dir || dir->kind != FOLDER) return -ENOTDIR;
    if (dir->fault == HOLD) hold();
    add(buf, ".", NULL, 0, 0);
    add(buf, "..", NULL, 0, 0);
    const size_t len = strcmp(path, "/") == 0 ? 0 : strlen(path);
    for (int i = 1; i < node_count; ++i) {
        const char *p = nodes[i].path;
        if (strncmp(p, path, len) == 0 && p[len] == '/' && !strchr(p + len + 1, '/')) add(buf, p + len + 1, NULL, 0, 0);
    }
    return 0;
}

static int ff_open(const char *path, struct fuse_file_info *fi) {
    const struct node *n = find(path);
    if (!n) return -ENOENT;
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    fi->direct_io = 1;
    if (n->kind != FOLDER) note("opens", path);
    return 0;
}

static int ff_read(const char *path, char *buf, size_t size, off_t offset, struct fuse_file_info *fi) {
    (void)fi;
    const struct node *n = find(path);
    if (!n || n->kind == FOLDER) return -ENOENT;
    const off_t total = size_of(n);
    if (offset >= total) return 0;
    if ((off_t)size > total - offset) size = (size_t)(total - offset);
    switch (n->fault) {
    case EIO_AT:
        if (offset + (off_t)size > eio_offset) return -EIO;
        break;
    case HOLD:
        hold();
        break;
    case LOOKUP_HOLD:
        break;
    case SLOW: {
        const struct timespec t = {0, 50 * 1000 * 1000};
        nanosleep(&t, NULL);
        break;
    }
    case NONE:
        break;
    }
    fill(n, buf, offset, size);
    return (int)size;
}

static const struct fuse_operations ops = {
    .init = ff_init,
    .getattr = ff_getattr,
    .readdir = ff_readdir,
    .open = ff_open,
    .read = ff_read,
};

int main(int argc, char *argv[]) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s MOUNTPOINT STATEDIR [fuse options]\n", argv[0]);
        return 2;
    }
    if (!realpath(argv[2], state_dir)) {
        perror(argv[2]);
        return 2;
    }
    /* fuse_main gets the mount point and the options, not the state folder. */
    for (int i = 2; i + 1 < argc; ++i) argv[i] = argv[i + 1];
    return fuse_main(argc - 1, argv, &ops, NULL);
}
