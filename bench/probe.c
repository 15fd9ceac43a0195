/*
 * Small measuring helper for launcher-vs-nginx.sh. Built by the script with the system C compiler.
 *
 *   probe freeport
 *       Prints a TCP port on 127.0.0.1 that was free a moment ago.
 *
 *   probe wait-port PORT TIMEOUT_MS
 *       Waits until a GET / on PORT answers; exit status 0 when it did, 1 on timeout.
 *
 *   probe ping-every PORT PATH SECONDS
 *       Sends "GET PATH" to PORT every SECONDS seconds (a new connection each time), forever.
 *       Stops on SIGTERM or SIGINT. Used to keep the launcher's watchdog content.
 *
 *   probe first-response RUNS (--banner | --port PORT) -- PROGRAM [ARGS...]
 *       RUNS times: takes the time, spawns PROGRAM, and polls 127.0.0.1 with raw sockets until a
 *       complete "GET /" answer with status 200 has arrived; then stops the program with SIGINT
 *       and reaps it. With --banner the port is read from the program's first standard output
 *       line ("...http://127.0.0.1:PORT/..."); with --port it is fixed and connection attempts are
 *       repeated until one succeeds. Prints one line per run and a summary line:
 *         summary runs=N median_ms=M min_ms=A max_ms=B banner_median_ms=C bad_exits=K
 *       (banner_median_ms is only meaningful with --banner: time until the first line was read.)
 */

#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static double now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec * 1e3 + (double)ts.tv_nsec / 1e6;
}

static void sleep_us(long us) {
    struct timespec ts = {us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

static int cmp_double(const void *a, const void *b) {
    const double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

static double median(double *v, int n) {
    qsort(v, (size_t)n, sizeof *v, cmp_double);
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

/* One connection attempt. Returns a connected socket, or -1 (errno set). */
static int connect_loopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons((unsigned short)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (struct sockaddr *)&a, sizeof a) != 0) {
        int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    struct timeval tv = {5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return fd;
}

/* Sends one GET on a connected socket and reads the complete answer (head plus content-length
 * bytes of body, or until the peer closes when there is no content-length). Returns the status
 * code, or -1 when no complete answer arrived. */
static int http_get(int fd, int port, const char *path, int close_after) {
    char req[512];
    int len = snprintf(req, sizeof req, "GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n%s\r\n", path,
                       port, close_after ? "Connection: close\r\n" : "");
    if (send(fd, req, (size_t)len, MSG_NOSIGNAL) != len) {
        return -1;
    }
    static char buf[1 << 20];
    size_t have = 0;
    long head_end = -1;
    long content_length = -1;
    int status = -1;
    for (;;) {
        if (head_end >= 0 && content_length >= 0 && (long)have >= head_end + content_length) {
            return status;
        }
        if (have == sizeof buf) {
            return -1;
        }
        ssize_t n = recv(fd, buf + have, sizeof buf - have, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            /* closed: fine when the answer had no length (HTTP/1.0 style) */
            return (head_end >= 0 && content_length < 0) ? status : -1;
        }
        have += (size_t)n;
        if (head_end < 0) {
            char *e = memmem(buf, have, "\r\n\r\n", 4);
            if (e == NULL) {
                continue;
            }
            head_end = (long)(e - buf) + 4;
            if (sscanf(buf, "HTTP/%*d.%*d %d", &status) != 1) {
                return -1;
            }
            /* content-length, any case */
            for (char *p = buf; p < e; ++p) {
                if ((p == buf || p[-1] == '\n') && strncasecmp(p, "content-length:", 15) == 0) {
                    content_length = strtol(p + 15, NULL, 10);
                    break;
                }
            }
            if (status == 204 || status == 304) {
                content_length = 0;
            }
        }
    }
}

static int cmd_freeport(void) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t sl = sizeof a;
    if (fd < 0 || bind(fd, (struct sockaddr *)&a, sizeof a) != 0 ||
        getsockname(fd, (struct sockaddr *)&a, &sl) != 0) {
        perror("freeport");
        return 1;
    }
    printf("%d\n", ntohs(a.sin_port));
    close(fd);
    return 0;
}

static int cmd_wait_port(int port, double timeout_ms) {
    const double deadline = now_ms() + timeout_ms;
    while (now_ms() < deadline) {
        int fd = connect_loopback(port);
        if (fd >= 0) {
            int st = http_get(fd, port, "/", 1);
            close(fd);
            if (st > 0) {
                return 0;
            }
        }
        sleep_us(2000);
    }
    return 1;
}

static volatile sig_atomic_t stop_requested = 0;
static void on_stop(int sig) {
    (void)sig;
    stop_requested = 1;
}

static int cmd_ping_every(int port, const char *path, int seconds) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop; /* no SA_RESTART: the sleep is cut short */
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);
    while (!stop_requested) {
        int fd = connect_loopback(port);
        if (fd >= 0) {
            http_get(fd, port, path, 1);
            close(fd);
        }
        struct timespec ts = {seconds, 0};
        while (!stop_requested && nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
    return 0;
}

/* The program being measured, stopped when the probe itself is asked to stop. */
static volatile pid_t current_child = 0;

static void stop_child_and_exit(int sig) {
    (void)sig;
    const pid_t pid = current_child;
    if (pid > 0) {
        kill(pid, SIGTERM);
        for (int i = 0; i < 300; ++i) { /* up to 3 s for a graceful stop */
            if (waitpid(pid, NULL, WNOHANG) == pid) {
                _exit(1);
            }
            struct timespec ts = {0, 10000000};
            nanosleep(&ts, NULL);
        }
        kill(pid, SIGKILL);
        waitpid(pid, NULL, 0);
    }
    _exit(1);
}

/* Reads the child's first line from fd and returns the port in it, or -1. */
static int read_banner_port(int fd) {
    char line[1024];
    size_t have = 0;
    while (have < sizeof line - 1) {
        ssize_t n = read(fd, line + have, sizeof line - 1 - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return -1;
        }
        have += (size_t)n;
        line[have] = '\0';
        if (strchr(line, '\n') != NULL) {
            break;
        }
    }
    const char *p = strstr(line, "http://127.0.0.1:");
    return p ? atoi(p + strlen("http://127.0.0.1:")) : -1;
}

static int cmd_first_response(int runs, int banner, int fixed_port, char **argv) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = stop_child_and_exit;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);
    double *total = calloc((size_t)runs, sizeof *total);
    double *to_banner = calloc((size_t)runs, sizeof *to_banner);
    int ok_runs = 0, bad_exits = 0;
    for (int r = 0; r < runs; ++r) {
        int out[2] = {-1, -1};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        if (banner) {
            if (pipe2(out, O_CLOEXEC) != 0) {
                perror("pipe");
                return 1;
            }
            posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        }
        /* A stop request between the spawn and the bookkeeping would leave the child behind:
         * hold TERM and INT back meanwhile (the child starts with nothing blocked). */
        sigset_t stops, before, none;
        sigemptyset(&stops);
        sigaddset(&stops, SIGTERM);
        sigaddset(&stops, SIGINT);
        sigemptyset(&none);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
        sigprocmask(SIG_BLOCK, &stops, &before);
        pid_t pid;
        const double t0 = now_ms();
        int rc = posix_spawn(&pid, argv[0], &fa, &attr, argv, environ);
        current_child = rc == 0 ? pid : 0;
        sigprocmask(SIG_SETMASK, &before, NULL);
        posix_spawn_file_actions_destroy(&fa);
        posix_spawnattr_destroy(&attr);
        if (rc != 0) {
            fprintf(stderr, "cannot start %s: %s\n", argv[0], strerror(rc));
            return 1;
        }
        int port = fixed_port;
        double tb = 0;
        if (banner) {
            close(out[1]);
            port = read_banner_port(out[0]);
            tb = now_ms() - t0;
            if (port <= 0) {
                fprintf(stderr, "run %d: no address line from %s\n", r + 1, argv[0]);
                kill(pid, SIGKILL);
                waitpid(pid, NULL, 0);
                current_child = 0;
                close(out[0]);
                continue;
            }
        }
        int status = -1;
        double t1 = 0;
        const double give_up = t0 + 10000;
        while (now_ms() < give_up) {
            int fd = connect_loopback(port);
            if (fd < 0) {
                sleep_us(100); /* refused: not listening yet */
                continue;
            }
            status = http_get(fd, port, "/", 0);
            t1 = now_ms();
            close(fd);
            if (status == 200) {
                break;
            }
            sleep_us(100);
        }
        kill(pid, SIGINT);
        int ws = 0;
        while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
        }
        current_child = 0;
        if (banner) {
            close(out[0]);
        }
        if (!WIFEXITED(ws) || WEXITSTATUS(ws) != 0) {
            ++bad_exits;
        }
        if (status != 200) {
            fprintf(stderr, "run %d: no 200 answer within 10 s\n", r + 1);
            continue;
        }
        total[ok_runs] = t1 - t0;
        to_banner[ok_runs] = tb;
        printf("run %d: first 200 answer after %.3f ms%s\n", r + 1, t1 - t0,
               banner ? "" : " (fixed port)");
        if (banner) {
            printf("        address line after %.3f ms\n", tb);
        }
        ++ok_runs;
        sleep_us(50000);
    }
    if (ok_runs == 0) {
        printf("summary runs=0\n");
        return 1;
    }
    const double mb = median(to_banner, ok_runs);
    const double m = median(total, ok_runs); /* sorts total */
    printf("summary runs=%d median_ms=%.3f min_ms=%.3f max_ms=%.3f banner_median_ms=%.3f "
           "bad_exits=%d\n",
           ok_runs, m, total[0], total[ok_runs - 1], mb, bad_exits);
    return 0;
}

static int usage(void) {
    fprintf(stderr, "usage: probe freeport | wait-port PORT TIMEOUT_MS | ping-every PORT PATH "
                    "SECONDS | first-response RUNS (--banner|--port PORT) -- PROGRAM [ARGS...]\n");
    return 2;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        return usage();
    }
    if (strcmp(argv[1], "freeport") == 0) {
        return cmd_freeport();
    }
    if (strcmp(argv[1], "wait-port") == 0 && argc == 4) {
        return cmd_wait_port(atoi(argv[2]), atof(argv[3]));
    }
    if (strcmp(argv[1], "ping-every") == 0 && argc == 5) {
        return cmd_ping_every(atoi(argv[2]), argv[3], atoi(argv[4]));
    }
    if (strcmp(argv[1], "first-response") == 0 && argc >= 5) {
        int runs = atoi(argv[2]);
        int banner = 0, port = 0, i = 3;
        if (strcmp(argv[i], "--banner") == 0) {
            banner = 1;
            i += 1;
        } else if (strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            port = atoi(argv[i + 1]);
            i += 2;
        } else {
            return usage();
        }
        if (i >= argc || strcmp(argv[i], "--") != 0 || i + 1 >= argc || runs <= 0) {
            return usage();
        }
        return cmd_first_response(runs, banner, port, argv + i + 1);
    }
    return usage();
}
