// alsa-lib's MIDI byte encoder (seq_midi_event.h), for the stand-in: bytes in, sequencer events
// out, one at a time. Channel messages keep their status for running status; a system common
// message ends it. Real-time bytes come out as their own events wherever they fall, without
// disturbing what is being parsed. SysEx comes out in pieces of the buffer's size (F0 in the
// first, F7 in the last), its data.ext.ptr pointing into the encoder's buffer.
#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstddef>
#include <new>
#include <stdexcept>
#include <vector>

struct snd_midi_event {
    std::size_t bufsize = 0;
    std::vector<unsigned char> buf;  // at least 3 bytes: a channel message always fits
    std::size_t read = 0;            // bytes of the message so far
    int type = SND_SEQ_EVENT_NONE;   // of the message being parsed; NONE: no status
    int dataBytes = 0;               // data bytes a message of this status has
    int missing = 0;                 // data bytes still to come
};

namespace {

struct Status {
    int type;
    int dataBytes;  // -1: not a message this encoder makes an event of
};

Status statusOf(unsigned char c) {
    switch (c >> 4) {
        case 0x8:
            return {SND_SEQ_EVENT_NOTEOFF, 2};
        case 0x9:
            return {SND_SEQ_EVENT_NOTEON, 2};
        case 0xa:
            return {SND_SEQ_EVENT_KEYPRESS, 2};
        case 0xb:
            return {SND_SEQ_EVENT_CONTROLLER, 2};
        case 0xc:
            return {SND_SEQ_EVENT_PGMCHANGE, 1};
        case 0xd:
            return {SND_SEQ_EVENT_CHANPRESS, 1};
        case 0xe:
            return {SND_SEQ_EVENT_PITCHBEND, 2};
        default:
            break;
    }
    switch (c) {
        case 0xf0:
            return {SND_SEQ_EVENT_SYSEX, 0};
        case 0xf1:
            return {SND_SEQ_EVENT_QFRAME, 1};
        case 0xf2:
            return {SND_SEQ_EVENT_SONGPOS, 2};
        case 0xf3:
            return {SND_SEQ_EVENT_SONGSEL, 1};
        case 0xf6:
            return {SND_SEQ_EVENT_TUNE_REQUEST, 0};
        default:
            return {SND_SEQ_EVENT_NONE, -1};
    }
}

int realTimeType(unsigned char c) {
    switch (c) {
        case 0xf8:
            return SND_SEQ_EVENT_CLOCK;
        case 0xfa:
            return SND_SEQ_EVENT_START;
        case 0xfb:
            return SND_SEQ_EVENT_CONTINUE;
        case 0xfc:
            return SND_SEQ_EVENT_STOP;
        case 0xfe:
            return SND_SEQ_EVENT_SENSING;
        case 0xff:
            return SND_SEQ_EVENT_RESET;
        default:
            return SND_SEQ_EVENT_NONE;
    }
}

void setFixed(snd_seq_event_t* ev, int type) {
    ev->type = static_cast<snd_seq_event_type_t>(type);
    ev->flags = static_cast<unsigned char>((ev->flags & ~SND_SEQ_EVENT_LENGTH_MASK) |
                                           SND_SEQ_EVENT_LENGTH_FIXED);
}

// The complete message in dev->buf as its event.
void fill(const snd_midi_event_t& dev, snd_seq_event_t* ev) {
    setFixed(ev, dev.type);
    const unsigned char channel = dev.buf[0] & 0x0f;
    const int d1 = dev.buf[1] & 0x7f;
    const int d2 = dev.buf[2] & 0x7f;
    switch (dev.type) {
        case SND_SEQ_EVENT_NOTEOFF:
        case SND_SEQ_EVENT_NOTEON:
        case SND_SEQ_EVENT_KEYPRESS:
            ev->data.note.channel = channel;
            ev->data.note.note = static_cast<unsigned char>(d1);
            ev->data.note.velocity = static_cast<unsigned char>(d2);
            break;
        case SND_SEQ_EVENT_CONTROLLER:
            ev->data.control.channel = channel;
            ev->data.control.param = static_cast<unsigned>(d1);
            ev->data.control.value = d2;
            break;
        case SND_SEQ_EVENT_PGMCHANGE:
        case SND_SEQ_EVENT_CHANPRESS:
            ev->data.control.channel = channel;
            ev->data.control.value = d1;
            break;
        case SND_SEQ_EVENT_PITCHBEND:
            ev->data.control.channel = channel;
            ev->data.control.value = (d1 | (d2 << 7)) - 8192;
            break;
        case SND_SEQ_EVENT_QFRAME:
        case SND_SEQ_EVENT_SONGSEL:
            ev->data.control.value = d1;
            break;
        case SND_SEQ_EVENT_SONGPOS:
            ev->data.control.value = d1 | (d2 << 7);
            break;
        default:
            break;
    }
}

bool isChannelType(int type) {
    return type >= SND_SEQ_EVENT_NOTEON && type <= SND_SEQ_EVENT_PITCHBEND;
}

}  // namespace

extern "C" {

int snd_midi_event_new(size_t bufsize, snd_midi_event_t** rdev) {
    if (rdev == nullptr) {
        return -EINVAL;
    }
    *rdev = nullptr;
    try {
        auto* dev = new snd_midi_event;  // owned by the caller until snd_midi_event_free
        dev->bufsize = bufsize;
        dev->buf.resize(bufsize < 3 ? 3 : bufsize);
        *rdev = dev;
        return 0;
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    } catch (const std::length_error&) {
        return -ENOMEM;
    }
}

int snd_midi_event_resize_buffer(snd_midi_event_t* dev, size_t bufsize) {
    if (dev == nullptr) {
        return -EINVAL;
    }
    try {
        std::vector<unsigned char> buf(bufsize < 3 ? 3 : bufsize);
        dev->buf.swap(buf);
        dev->bufsize = bufsize;
        snd_midi_event_reset_encode(dev);
        return 0;
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    } catch (const std::length_error&) {
        return -ENOMEM;
    }
}

void snd_midi_event_free(snd_midi_event_t* dev) {
    delete dev;
}

void snd_midi_event_reset_encode(snd_midi_event_t* dev) {
    if (dev == nullptr) {
        return;
    }
    dev->read = 0;
    dev->type = SND_SEQ_EVENT_NONE;
    dev->dataBytes = 0;
    dev->missing = 0;
}

void snd_midi_event_init(snd_midi_event_t* dev) {
    snd_midi_event_reset_encode(dev);
}

int snd_midi_event_encode_byte(snd_midi_event_t* dev, int c, snd_seq_event_t* ev) {
    if (dev == nullptr || ev == nullptr) {
        return -EINVAL;
    }
    const auto byte = static_cast<unsigned char>(c & 0xff);
    if (byte >= 0xf8) {
        const int type = realTimeType(byte);
        setFixed(ev, type);
        return type != SND_SEQ_EVENT_NONE ? 1 : 0;
    }
    if (dev->type == SND_SEQ_EVENT_SYSEX && (byte < 0x80 || byte == 0xf7)) {
        dev->buf[dev->read++] = byte;
        if (byte == 0xf7 || dev->read >= dev->bufsize) {
            ev->type = SND_SEQ_EVENT_SYSEX;
            ev->flags = static_cast<unsigned char>((ev->flags & ~SND_SEQ_EVENT_LENGTH_MASK) |
                                                   SND_SEQ_EVENT_LENGTH_VARIABLE);
            ev->data.ext.len = static_cast<unsigned>(dev->read);
            ev->data.ext.ptr = dev->buf.data();
            dev->read = 0;
            if (byte == 0xf7) {
                snd_midi_event_reset_encode(dev);
            }
            return 1;
        }
        return 0;
    }
    if (byte & 0x80) {
        const Status status = statusOf(byte);
        dev->type = status.type;
        dev->dataBytes = status.dataBytes;
        dev->missing = status.dataBytes;
        dev->buf[0] = byte;
        dev->read = 1;
        if (status.type == SND_SEQ_EVENT_SYSEX && dev->read >= dev->bufsize) {
            // A buffer of one byte (or none) passes the F0 on by itself.
            ev->type = SND_SEQ_EVENT_SYSEX;
            ev->flags = static_cast<unsigned char>((ev->flags & ~SND_SEQ_EVENT_LENGTH_MASK) |
                                                   SND_SEQ_EVENT_LENGTH_VARIABLE);
            ev->data.ext.len = 1;
            ev->data.ext.ptr = dev->buf.data();
            dev->read = 0;
            return 1;
        }
        if (status.type == SND_SEQ_EVENT_SYSEX || status.dataBytes != 0) {
            return 0;
        }
    } else {
        if (dev->type == SND_SEQ_EVENT_NONE) {
            return 0;  // a data byte with no status to belong to
        }
        if (dev->missing == 0) {
            dev->read = 1;  // running status: a new message of the same status
            dev->missing = dev->dataBytes;
        }
        dev->buf[dev->read++] = byte;
        if (--dev->missing > 0) {
            return 0;
        }
    }
    fill(*dev, ev);
    if (!isChannelType(dev->type)) {
        dev->type = SND_SEQ_EVENT_NONE;  // only channel messages have running status
    }
    return 1;
}

long snd_midi_event_encode(snd_midi_event_t* dev, const unsigned char* buf, long count,
                           snd_seq_event_t* ev) {
    if (dev == nullptr || ev == nullptr || (buf == nullptr && count > 0)) {
        return -EINVAL;
    }
    ev->type = SND_SEQ_EVENT_NONE;
    long used = 0;
    while (used < count) {
        const int r = snd_midi_event_encode_byte(dev, buf[used++], ev);
        if (r < 0) {
            return r;
        }
        if (r > 0) {
            break;  // one event at a time
        }
    }
    return used;
}

}  // extern "C"
