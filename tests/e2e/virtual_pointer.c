/* A pointer for a headless wlroots compositor, which has no input devices of its own: creates
 * one virtual pointer on the default seat, says "ready", then follows commands on stdin, one a
 * line, answering "ok" once the compositor has taken each:
 *   to X Y W H    move to X, Y of a W x H layout
 *   by DX DY      move by DX, DY
 *   press | release   the left button
 *   token         an XDG activation token, as a launcher gets one for the program it starts;
 *                 answered "token TEXT" (or "no token" where the compositor offers none)
 *
 * The interfaces of the wlr virtual pointer protocol and of XDG activation are declared here by
 * hand (only what is used), so no protocol file or scanner is needed. */
#include <wayland-client.h>

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

extern const struct wl_interface zwlr_virtual_pointer_v1_interface;

static const struct wl_interface* create_types[] = {&wl_seat_interface,
                                                    &zwlr_virtual_pointer_v1_interface};
static const struct wl_interface* none[] = {NULL, NULL, NULL, NULL, NULL};

static const struct wl_message manager_requests[] = {
    {"create_virtual_pointer", "?on", create_types},
    {"destroy", "", none},
};
static const struct wl_interface manager_interface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, manager_requests, 0, NULL};

static const struct wl_message pointer_requests[] = {
    {"motion", "uff", none},   {"motion_absolute", "uuuuu", none},
    {"button", "uuu", none},   {"axis", "uuf", none},
    {"frame", "", none},       {"axis_source", "u", none},
    {"axis_stop", "uu", none}, {"axis_discrete", "uufi", none},
    {"destroy", "", none},
};
const struct wl_interface zwlr_virtual_pointer_v1_interface = {"zwlr_virtual_pointer_v1", 1, 9,
                                                               pointer_requests,          0, NULL};

extern const struct wl_interface xdg_activation_token_v1_interface;

static const struct wl_interface* token_types[] = {&xdg_activation_token_v1_interface};
static const struct wl_interface* activate_types[] = {NULL, &wl_surface_interface};
static const struct wl_message activation_requests[] = {
    {"destroy", "", none},
    {"get_activation_token", "n", token_types},
    {"activate", "so", activate_types},
};
static const struct wl_interface activation_interface = {"xdg_activation_v1", 1, 3,
                                                         activation_requests, 0, NULL};

static const struct wl_interface* serial_types[] = {NULL, &wl_seat_interface};
static const struct wl_interface* surface_types[] = {&wl_surface_interface};
static const struct wl_message token_requests[] = {
    {"set_serial", "uo", serial_types},
    {"set_app_id", "s", none},
    {"set_surface", "o", surface_types},
    {"commit", "", none},
    {"destroy", "", none},
};
static const struct wl_message token_events[] = {{"done", "s", none}};
const struct wl_interface xdg_activation_token_v1_interface = {
    "xdg_activation_token_v1", 1, 5, token_requests, 1, token_events};

static struct wl_seat* seat;
static struct wl_proxy* manager;
static struct wl_proxy* activation;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
    (void)data;
    (void)version;
    if (!seat && strcmp(interface, wl_seat_interface.name) == 0)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (!manager && strcmp(interface, manager_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &manager_interface, 1);
    else if (!activation && strcmp(interface, activation_interface.name) == 0)
        activation = wl_registry_bind(registry, name, &activation_interface, 1);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

static void token_done(void* data, struct wl_proxy* token, const char* text) {
    (void)token;
    snprintf(data, 256, "%s", text);
}

static const struct {
    void (*done)(void*, struct wl_proxy*, const char*);
} token_listener = {token_done};

/* A token with no seat, serial or surface: one the compositor gives any program that asks. */
static int print_token(struct wl_display* display) {
    if (!activation) {
        printf("no token\n");
        return 0;
    }
    char text[256] = "";
    struct wl_proxy* token =
        wl_proxy_marshal_constructor(activation, 1, &xdg_activation_token_v1_interface, NULL);
    wl_proxy_add_listener(token, (void (**)(void)) & token_listener, text);
    wl_proxy_marshal(token, 3); /* commit */
    while (!text[0])
        if (wl_display_dispatch(display) < 0)
            return -1;
    wl_proxy_marshal(token, 4); /* destroy */
    wl_proxy_destroy(token);
    printf("token %s\n", text);
    return 0;
}

int main(void) {
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "virtual_pointer: cannot connect to the Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!seat || !manager) {
        fprintf(stderr, "virtual_pointer: the compositor offers no %s\n",
                seat ? manager_interface.name : "seat");
        return 1;
    }
    struct wl_proxy* pointer =
        wl_proxy_marshal_constructor(manager, 0, &zwlr_virtual_pointer_v1_interface, seat, NULL);
    if (!pointer || wl_display_roundtrip(display) < 0) {
        fprintf(stderr, "virtual_pointer: the pointer was refused\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);

    char line[128];
    while (fgets(line, sizeof line, stdin)) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const uint32_t ms = (uint32_t)(now.tv_sec * 1000 + now.tv_nsec / 1000000);
        unsigned x, y, w, h;
        int dx, dy;
        if (strncmp(line, "token", 5) == 0) {
            if (print_token(display) < 0)
                return 1;
            fflush(stdout);
            continue;
        }
        if (sscanf(line, "to %u %u %u %u", &x, &y, &w, &h) == 4)
            wl_proxy_marshal(pointer, 1, ms, x, y, w, h);
        else if (sscanf(line, "by %d %d", &dx, &dy) == 2)
            wl_proxy_marshal(pointer, 0, ms, wl_fixed_from_int(dx), wl_fixed_from_int(dy));
        else if (strncmp(line, "press", 5) == 0)
            wl_proxy_marshal(pointer, 2, ms, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
        else if (strncmp(line, "release", 7) == 0)
            wl_proxy_marshal(pointer, 2, ms, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
        else {
            printf("unknown command\n");
            fflush(stdout);
            continue;
        }
        wl_proxy_marshal(pointer, 4); /* frame */
        if (wl_display_roundtrip(display) < 0)
            return 1;
        printf("ok\n");
        fflush(stdout);
    }
    wl_display_disconnect(display);
    return 0;
}
