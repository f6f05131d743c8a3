#ifndef CLOAKCAM_PLATFORM_PIPEWIRE_LINK_H
#define CLOAKCAM_PLATFORM_PIPEWIRE_LINK_H

// A connection of the process's own to one run of the PipeWire daemon, which
// GStreamer's PipeWire elements are told to use (their "fd").
//
// GStreamer keeps one PipeWire connection per descriptor number for all its
// PipeWire elements in a process (-1, the default, among them) and lets it go
// only once none of them holds it. An element stuck on a daemon that died
// keeps that connection, and every element made after it would be handed the
// dead one. A descriptor of its own for each daemon run keeps the elements of
// one run apart from those of the next; holding it also tells, without
// guessing from the socket's file, when that run has ended.
//
// A link lives on after its daemon as long as an element made through it may
// still reach for its connection, so that its number is not used again
// meanwhile; then it is closed.

#include <gst/gst.h>

// A new link to the daemon that listens now, or -1 when none does.
int connectPipeWire();

// Whether the daemon behind `link` has gone.
bool pipeWireGone(int link);

// `link` is no longer handed out; it is closed once no element made through
// it is left.
void retirePipeWireLink(int link);

// Keeps the link `element` uses (if it is a PipeWire element on one of
// these links) until the element is finalized.
void holdPipeWireLinkFor(GstElement *element);

#endif
