/* A test X client: one window of a chosen size, title, class and colour.
 *
 *   test_window [--size WxH] [--at X,Y] [--title UTF8] [--wm-name BYTES] [--class NAME]
 *               [--color RRGGBB] [--type ATOM[,ATOM...]] [--unmapped] [--no-pid]
 *               [--override-redirect] [--no-background]
 *
 * Prints the window id in decimal once the window is shown (or created, when
 * unmapped). Standard input takes "color RRGGBB" lines, each answered "ok" once
 * the server has done it; end of input quits.
 */
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <xcb/xcb.h>

static xcb_connection_t *c;
static xcb_window_t window;
static xcb_gcontext_t gc;
static uint32_t color = 0x3366cc;
static int width = 640, height = 480;
static int useBackground = 1;

static xcb_atom_t atom(const char *name) {
    xcb_intern_atom_reply_t *r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), NULL);
    xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
    free(r);
    return a;
}

static void sync_server(void) { free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL)); }

static void paint(void) {
    xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &color);
    xcb_rectangle_t all = {0, 0, (uint16_t)width, (uint16_t)height};
    xcb_poly_fill_rectangle(c, window, gc, 1, &all);
    xcb_flush(c);
}

static void set_text(xcb_atom_t property, xcb_atom_t type, const char *text) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, 8, strlen(text), text);
}

static void wait_for_expose(void) {
    xcb_generic_event_t *e;
    while ((e = xcb_wait_for_event(c)) != NULL) {
        int exposed = (e->response_type & 0x7f) == XCB_EXPOSE;
        free(e);
        if (exposed) break;
    }
}

int main(int argc, char **argv) {
    const char *title = NULL, *wmName = NULL, *className = "TestWindow", *type = NULL;
    int x = 0, y = 0, mapped = 1, setPid = 1, overrideRedirect = 0;
    for (int i = 1; i < argc; ++i) {
        const char *next = i + 1 < argc ? argv[i + 1] : "";
        if (!strcmp(argv[i], "--size")) { sscanf(next, "%dx%d", &width, &height); ++i; }
        else if (!strcmp(argv[i], "--at")) { sscanf(next, "%d,%d", &x, &y); ++i; }
        else if (!strcmp(argv[i], "--title")) { title = next; ++i; }
        else if (!strcmp(argv[i], "--wm-name")) { wmName = next; ++i; }
        else if (!strcmp(argv[i], "--class")) { className = next; ++i; }
        else if (!strcmp(argv[i], "--color")) { color = strtoul(next, NULL, 16); ++i; }
        else if (!strcmp(argv[i], "--type")) { type = next; ++i; }
        else if (!strcmp(argv[i], "--unmapped")) mapped = 0;
        else if (!strcmp(argv[i], "--no-pid")) setPid = 0;
        else if (!strcmp(argv[i], "--override-redirect")) overrideRedirect = 1;
        else if (!strcmp(argv[i], "--no-background")) useBackground = 0;
        else { fprintf(stderr, "unknown option %s\n", argv[i]); return 2; }
    }
    c = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(c)) { fprintf(stderr, "cannot connect\n"); return 1; }
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;

    window = xcb_generate_id(c);
    uint32_t mask = XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
    uint32_t values[3];
    int n = 0;
    if (useBackground) { mask |= XCB_CW_BACK_PIXEL; values[n++] = color; }
    values[n++] = (uint32_t)overrideRedirect;
    values[n++] = XCB_EVENT_MASK_EXPOSURE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, (int16_t)x, (int16_t)y, (uint16_t)width,
                      (uint16_t)height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, mask, values);
    gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, NULL);

    if (title) set_text(atom("_NET_WM_NAME"), atom("UTF8_STRING"), title);
    if (wmName) set_text(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, wmName);
    char wmClass[512];
    int classLength = snprintf(wmClass, sizeof wmClass, "%s%c%s", className, 0, className);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        (uint32_t)classLength + 1, wmClass);
    if (setPid) {
        uint32_t pid = (uint32_t)getpid();
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    }
    if (type) {
        char names[512];
        xcb_atom_t types[8];
        uint32_t count = 0;
        snprintf(names, sizeof names, "%s", type);
        for (char *name = strtok(names, ","); name && count < 8; name = strtok(NULL, ",")) types[count++] = atom(name);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, count,
                            types);
    }
    if (mapped) {
        xcb_map_window(c, window);
        xcb_flush(c);
        wait_for_expose();
        paint();
    }
    sync_server();
    printf("%u\n", window);
    fflush(stdout);

    struct pollfd fds[2] = {{0, POLLIN, 0}, {xcb_get_file_descriptor(c), POLLIN, 0}};
    char line[256];
    size_t used = 0;
    for (;;) {
        xcb_generic_event_t *e;
        while ((e = xcb_poll_for_event(c)) != NULL) {
            if ((e->response_type & 0x7f) == XCB_EXPOSE) paint();
            free(e);
        }
        if (xcb_connection_has_error(c)) return 1;
        if (poll(fds, 2, -1) < 0) continue;
        if (!(fds[0].revents & (POLLIN | POLLHUP))) continue;
        ssize_t got = read(0, line + used, sizeof line - 1 - used);
        if (got <= 0) break;
        used += (size_t)got;
        line[used] = 0;
        char *end;
        while ((end = strchr(line, '\n')) != NULL) {
            *end = 0;
            if (!strncmp(line, "color ", 6)) {
                color = strtoul(line + 6, NULL, 16);
                if (useBackground) xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXEL, &color);
                paint();
            }
            sync_server();
            printf("ok\n");
            fflush(stdout);
            used -= (size_t)(end + 1 - line);
            memmove(line, end + 1, used + 1);
        }
        if (used == sizeof line - 1) used = 0;
    }
    xcb_disconnect(c);
    return 0;
}
