/* Starts a program and kills it with SIGKILL at a chosen moment: after the COUNT-th file event
 * of a kind in the watched folders (optionally only for names matching a glob), then DELAY
 * microseconds later; with the event "start", DELAY microseconds after the start. Reacting to
 * the event itself, within microseconds, is what lets a kill land between two renames.
 *
 * kill_at EVENT COUNT DELAY_US GLOB FOLDER... -- PROGRAM ARG...
 *   EVENT: start | open | create | close_write | moved_from | moved_to;  GLOB "*" for any name
 * Prints "killed" or "exited {code}" (the program ended before the moment came).
 * Built by the crash test with the host's C compiler; never shipped. */
#define _GNU_SOURCE
#include <fnmatch.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static unsigned event_mask(const char *name) {
    if (strcmp(name, "open") == 0) return IN_OPEN;
    if (strcmp(name, "create") == 0) return IN_CREATE;
    if (strcmp(name, "close_write") == 0) return IN_CLOSE_WRITE;
    if (strcmp(name, "moved_from") == 0) return IN_MOVED_FROM;
    if (strcmp(name, "moved_to") == 0) return IN_MOVED_TO;
    return 0;
}

static void pause_us(long us) {
    struct timespec span = {us / 1000000, (us % 1000000) * 1000};
    while (us > 0 && nanosleep(&span, &span) != 0) {
    }
}

static int exited(int status) {
    printf("exited %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}

static int kill_now(pid_t child) {
    int status = 0;
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    /* A program that ended by itself just before the signal is no kill. */
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
        puts("killed");
        return 0;
    }
    return exited(status);
}

int main(int argc, char **argv) {
    int separator = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--") == 0) {
            separator = i;
            break;
        }
    }
    if (argc < 6 || separator < 5 || separator + 1 >= argc) {
        fprintf(stderr, "usage: kill_at EVENT COUNT DELAY_US GLOB FOLDER... -- PROGRAM ARG...\n");
        return 2;
    }
    const unsigned mask = event_mask(argv[1]);
    const long count = atol(argv[2]);
    const long delay = atol(argv[3]);
    const char *glob = argv[4];
    const int by_time = strcmp(argv[1], "start") == 0;
    if (!by_time && mask == 0) {
        fprintf(stderr, "kill_at: unknown event %s\n", argv[1]);
        return 2;
    }

    const int events = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (events < 0) {
        perror("kill_at: inotify_init1");
        return 2;
    }
    for (int i = 5; i < separator; ++i) {
        if (!by_time && inotify_add_watch(events, argv[i], mask) < 0) {
            perror(argv[i]);
            return 2;
        }
    }

    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[separator + 1], argv + separator + 1);
        perror("kill_at: exec");
        _exit(127);
    }
    if (child < 0) {
        perror("kill_at: fork");
        return 2;
    }
    if (by_time) {
        pause_us(delay);
        return kill_now(child);
    }

    long seen = 0;
    char buffer[64 * 1024] __attribute__((aligned(__alignof__(struct inotify_event))));
    for (;;) {
        struct pollfd wait_for = {events, POLLIN, 0};
        if (poll(&wait_for, 1, 5) > 0) {
            const ssize_t got = read(events, buffer, sizeof buffer);
            for (char *at = buffer; got > 0 && at < buffer + got;) {
                const struct inotify_event *event = (const struct inotify_event *)at;
                at += sizeof *event + event->len;
                if (!(event->mask & mask) || event->len == 0 || fnmatch(glob, event->name, 0) != 0) continue;
                if (++seen == count) {
                    pause_us(delay);
                    return kill_now(child);
                }
            }
        }
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) return exited(status);
    }
}
