// The stand-in for alsa-lib's sequencer: see AlsaModel.h. The error codes are the ones the kernel's
// sequencer (sound/core/seq) and alsa-lib give for the same cases.
#include "AlsaModel.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

struct _snd_seq {
    int client = -1;  // -1: dropped by Reset
    int streams = 0;
    // Events of snd_seq_event_output waiting for snd_seq_drain_output, with their data.
    struct Pending {
        snd_seq_event_t event;
        std::vector<uint8_t> bytes;
        std::size_t length;
    };
    std::vector<Pending> pending;
    std::size_t pendingBytes = 0;
};

namespace {

constexpr int kFirstClient = 128;  // the first number for user clients
constexpr int kClientLimit = 192;  // the kernel's client count
constexpr int kPortLimit = 254;    // ports a client may have
// alsa-lib's output buffer: an event of this size or more cannot be buffered.
constexpr std::size_t kOutputBufferBytes = 16 * 1024;
// The kernel takes no variable-length event of this size or more.
constexpr unsigned kKernelMaxEventBytes = 0x3fffffff;
constexpr unsigned kExtLengthMask = 0xc0000000;  // flag bits the kernel keeps in ext.len

struct Port {
    std::string name;
    unsigned caps = 0;
};

struct Client {
    std::string name;
    bool acceptsInput = true;
    bool acceptsOutput = true;
    bool hasHandle = false;
    std::map<int, Port> ports;
};

struct Address {
    int client;
    int port;
    auto operator<=>(const Address&) const = default;
};

struct Subscription {
    Address sender;
    Address dest;
};

struct Model {
    std::mutex mutex;
    std::map<int, Client> clients;
    std::vector<Subscription> subscriptions;  // in the order they were made
    std::map<Address, std::vector<alsa_model::Received>> received;
    std::map<snd_seq_t*, std::unique_ptr<snd_seq_t>> handles;
    // Handles Reset dropped: kept until closed, so that no new handle takes their address.
    std::map<snd_seq_t*, std::unique_ptr<snd_seq_t>> dropped;
    std::optional<int> failNext;

    // The lowest free client number, or -1.
    int newClient(std::string name, bool input, bool output, bool handle) {
        for (int c = kFirstClient; c < kClientLimit; ++c) {
            if (clients.count(c) == 0) {
                std::erase_if(received, [c](const auto& r) { return r.first.client == c; });
                clients[c] = Client{std::move(name), input, output, handle, {}};
                return c;
            }
        }
        return -1;
    }

    void dropSubscriptions(int client, std::optional<int> port) {
        auto involves = [&](const Address& a) {
            return a.client == client && (!port || a.port == *port);
        };
        std::erase_if(subscriptions, [&](const Subscription& s) {
            return involves(s.sender) || involves(s.dest);
        });
    }

    void removeClient(int client) {
        dropSubscriptions(client, std::nullopt);
        clients.erase(client);
    }

    const Port* port(Address a) const {
        auto c = clients.find(a.client);
        if (c == clients.end()) {
            return nullptr;
        }
        auto p = c->second.ports.find(a.port);
        return p == c->second.ports.end() ? nullptr : &p->second;
    }

    // The handle's state if it is open; nullptr for one Reset dropped or never opened.
    snd_seq_t* open(snd_seq_t* seq) {
        auto h = handles.find(seq);
        return h == handles.end() ? nullptr : h->second.get();
    }
};

Model& model() {
    static Model m;
    return m;
}

// Runs body(model, handle) under the model's lock for an open handle; -EBADFD for any other.
template <typename Body>
int WithOpenHandle(snd_seq_t* handle, Body body) {
    Model& m = model();
    std::lock_guard lock(m.mutex);
    snd_seq_t* s = m.open(handle);
    return s == nullptr ? -EBADFD : body(m, s);
}

// The failure FailNextOutput asked for, once; 0 when none is due.
int TakeFailure(Model& m) {
    if (!m.failNext)
        return 0;
    const int error = *m.failNext;
    m.failNext.reset();
    return error;
}

// An event's data as the stand-in took it from the caller.
struct Payload {
    std::vector<uint8_t> bytes;  // empty when too long to deliver
    std::size_t length = 0;
};

bool isVariableType(int type) {
    return type >= SND_SEQ_EVENT_SYSEX && type <= SND_SEQ_EVENT_USR_VAR4;
}

// The MIDI bytes of a channel or system event; empty for the others.
std::vector<uint8_t> midiBytes(const snd_seq_event_t& ev) {
    auto b = [](int v) { return static_cast<uint8_t>(v & 0x7f); };
    auto status = [](int base, int channel) {
        return static_cast<uint8_t>(base | (channel & 0x0f));
    };
    const auto& n = ev.data.note;
    const auto& c = ev.data.control;
    switch (ev.type) {
        case SND_SEQ_EVENT_NOTEOFF:
            return {status(0x80, n.channel), b(n.note), b(n.velocity)};
        case SND_SEQ_EVENT_NOTEON:
            return {status(0x90, n.channel), b(n.note), b(n.velocity)};
        case SND_SEQ_EVENT_KEYPRESS:
            return {status(0xa0, n.channel), b(n.note), b(n.velocity)};
        case SND_SEQ_EVENT_CONTROLLER:
            return {status(0xb0, c.channel), b(static_cast<int>(c.param)), b(c.value)};
        case SND_SEQ_EVENT_PGMCHANGE:
            return {status(0xc0, c.channel), b(c.value)};
        case SND_SEQ_EVENT_CHANPRESS:
            return {status(0xd0, c.channel), b(c.value)};
        case SND_SEQ_EVENT_PITCHBEND:
            return {status(0xe0, c.channel), b(c.value + 8192), b((c.value + 8192) >> 7)};
        case SND_SEQ_EVENT_QFRAME:
            return {0xf1, b(c.value)};
        case SND_SEQ_EVENT_SONGPOS:
            return {0xf2, b(c.value), b(c.value >> 7)};
        case SND_SEQ_EVENT_SONGSEL:
            return {0xf3, b(c.value)};
        case SND_SEQ_EVENT_TUNE_REQUEST:
            return {0xf6};
        case SND_SEQ_EVENT_CLOCK:
            return {0xf8};
        case SND_SEQ_EVENT_START:
            return {0xfa};
        case SND_SEQ_EVENT_CONTINUE:
            return {0xfb};
        case SND_SEQ_EVENT_STOP:
            return {0xfc};
        case SND_SEQ_EVENT_SENSING:
            return {0xfe};
        case SND_SEQ_EVENT_RESET:
            return {0xff};
        default:
            return {};
    }
}

// One event to one port, as the kernel's single delivery: the receiver must be there, take input
// and let others write to the port; its input pool must hold the event with its data.
int deliverTo(Model& m, const snd_seq_event_t& ev, const Payload& data, Address dest) {
    auto c = m.clients.find(dest.client);
    if (c == m.clients.end() || !c->second.acceptsInput) {
        return -ENOENT;
    }
    auto p = c->second.ports.find(dest.port);
    if (p == c->second.ports.end()) {
        return -ENOENT;
    }
    if ((p->second.caps & SND_SEQ_PORT_CAP_WRITE) == 0) {
        return -EPERM;
    }
    if (snd_seq_ev_is_variable(&ev) && data.length > alsa_model::kMaxVariableBytes) {
        return -ENOMEM;
    }
    alsa_model::Received r{ev.type, {}, ev.source.client, ev.source.port, ev};
    r.event.dest.client = static_cast<unsigned char>(dest.client);
    r.event.dest.port = static_cast<unsigned char>(dest.port);
    if (snd_seq_ev_is_variable(&ev) || snd_seq_ev_is_varusr(&ev)) {
        r.data = data.bytes;
        r.event.data.ext.ptr = nullptr;
    } else {
        r.data = midiBytes(ev);
    }
    m.received[dest].push_back(std::move(r));
    return 0;
}

// The event's data as alsa-lib hands it to the kernel, or the error for a bad length.
int takeData(const snd_seq_event_t& ev, Payload& data) {
    const bool variableFlag = snd_seq_ev_is_variable(&ev) || snd_seq_ev_is_varusr(&ev);
    if (snd_seq_ev_is_fixed(&ev) && isVariableType(ev.type)) {
        return -EINVAL;
    }
    if (snd_seq_ev_is_variable(&ev) &&
        (!isVariableType(ev.type) || (ev.data.ext.len & ~kExtLengthMask) >= kKernelMaxEventBytes)) {
        return -EINVAL;
    }
    if (snd_seq_ev_is_varusr(&ev) && !snd_seq_ev_is_direct(&ev)) {
        return -EINVAL;
    }
    if (!variableFlag || ev.data.ext.len == 0) {
        return 0;
    }
    if (ev.data.ext.ptr == nullptr) {
        return -EFAULT;
    }
    // No receiver's pool takes more than kMaxVariableBytes: the length says enough of such data.
    if (ev.data.ext.len > alsa_model::kMaxVariableBytes) {
        data.length = ev.data.ext.len;
        return 0;
    }
    const auto* bytes = static_cast<const uint8_t*>(ev.data.ext.ptr);
    data.bytes.assign(bytes, bytes + ev.data.ext.len);
    data.length = ev.data.ext.len;
    return 0;
}

int eventBytes(const snd_seq_event_t& ev) {
    int bytes = static_cast<int>(sizeof(snd_seq_event_t));
    if (snd_seq_ev_is_variable(&ev)) {
        bytes += static_cast<int>(ev.data.ext.len & ~kExtLengthMask);
    }
    return bytes;
}

// One event through the kernel's write: the bytes written, or the error.
int write(Model& m, snd_seq_t& seq, snd_seq_event_t ev, const Payload& data) {
    if ((seq.streams & SND_SEQ_OPEN_OUTPUT) == 0) {
        return -ENXIO;
    }
    ev.source.client = static_cast<unsigned char>(seq.client);
    const int bytes = eventBytes(ev);
    if (ev.type == SND_SEQ_EVENT_NONE) {
        return bytes;  // skipped, but counted as written
    }
    if (ev.queue == SND_SEQ_ADDRESS_SUBSCRIBERS) {
        ev.dest.client = SND_SEQ_ADDRESS_SUBSCRIBERS;
        ev.queue = SND_SEQ_QUEUE_DIRECT;
    }
    const bool toSubscribers = ev.dest.client == SND_SEQ_ADDRESS_SUBSCRIBERS;
    const Address source{seq.client, ev.source.port};
    if (toSubscribers && m.port(source) == nullptr) {
        return -EINVAL;
    }
    // No queue exists here (none is ever allocated), so a scheduled event has nowhere to go.
    if (!snd_seq_ev_is_direct(&ev) || ev.type == SND_SEQ_EVENT_NOTE) {
        return -EINVAL;
    }
    int result = 0;
    if (toSubscribers) {
        std::vector<Address> dests;
        for (const auto& s : m.subscriptions) {
            if (s.sender == source) {
                dests.push_back(s.dest);
            }
        }
        for (Address d : dests) {
            const int r = deliverTo(m, ev, data, d);
            if (r < 0 && result == 0) {
                result = r;  // the first error; the others still get it
            }
        }
    } else {
        result = deliverTo(m, ev, data, {ev.dest.client, ev.dest.port});
    }
    return result < 0 ? result : bytes;
}

}  // namespace

extern "C" {

int snd_seq_open(snd_seq_t** handle, const char* name, int streams, int /*mode*/) {
    if (handle == nullptr || name == nullptr) {
        return -EINVAL;
    }
    *handle = nullptr;
    if (std::strcmp(name, "default") != 0 && std::strcmp(name, "hw") != 0) {
        return -ENOENT;  // no such definition in the configuration
    }
    if (streams != SND_SEQ_OPEN_OUTPUT && streams != SND_SEQ_OPEN_INPUT &&
        streams != SND_SEQ_OPEN_DUPLEX) {
        return -EINVAL;
    }
    Model& m = model();
    std::lock_guard lock(m.mutex);
    const int client = m.newClient("", (streams & SND_SEQ_OPEN_INPUT) != 0,
                                   (streams & SND_SEQ_OPEN_OUTPUT) != 0, true);
    if (client < 0) {
        return -ENOMEM;
    }
    m.clients[client].name = "Client-" + std::to_string(client);
    auto seq = std::make_unique<snd_seq_t>();
    seq->client = client;
    seq->streams = streams;
    *handle = seq.get();
    m.handles.emplace(seq.get(), std::move(seq));
    return 0;
}

int snd_seq_close(snd_seq_t* handle) {
    Model& m = model();
    std::lock_guard lock(m.mutex);
    if (m.dropped.erase(handle) != 0) {
        return 0;
    }
    auto h = m.handles.find(handle);
    if (h == m.handles.end()) {
        return -EBADFD;
    }
    m.removeClient(h->second->client);
    m.handles.erase(h);
    return 0;
}

int snd_seq_client_id(snd_seq_t* handle) {
    Model& m = model();
    std::lock_guard lock(m.mutex);
    snd_seq_t* seq = m.open(handle);
    return seq != nullptr ? seq->client : -EBADFD;
}

int snd_seq_set_client_name(snd_seq_t* seq, const char* name) {
    if (name == nullptr) {
        return -EINVAL;
    }
    return WithOpenHandle(seq, [&](Model& m, snd_seq_t* s) {
        // The kernel keeps 63 characters, and ignores an empty name.
        std::string n(name, strnlen(name, 63));
        if (!n.empty()) {
            m.clients[s->client].name = std::move(n);
        }
        return 0;
    });
}

int snd_seq_create_simple_port(snd_seq_t* seq, const char* name, unsigned int caps,
                               unsigned int /*type*/) {
    return WithOpenHandle(seq, [&](Model& m, snd_seq_t* s) {
        auto& ports = m.clients[s->client].ports;
        for (int p = 0; p < kPortLimit; ++p) {
            if (ports.count(p) == 0) {
                ports[p] = Port{name != nullptr ? std::string(name, strnlen(name, 63)) : "", caps};
                return p;
            }
        }
        return -ENOMEM;
    });
}

int snd_seq_delete_simple_port(snd_seq_t* seq, int port) {
    return WithOpenHandle(seq, [&](Model& m, snd_seq_t* s) {
        if (m.clients[s->client].ports.erase(port) == 0) {
            return -ENOENT;
        }
        m.dropSubscriptions(s->client, port);
        return 0;
    });
}

int snd_seq_connect_to(snd_seq_t* seq, int my_port, int dest_client, int dest_port) {
    return WithOpenHandle(seq, [&](Model& m, snd_seq_t* s) {
        const Address sender{s->client, my_port};
        const Address dest{dest_client, dest_port};
        const Port* d = m.port(dest);
        if (m.port(sender) == nullptr || d == nullptr) {
            return -EINVAL;
        }
        // Our own port needs no permission; another client's must take writes and subscriptions.
        const unsigned writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
        if (dest_client != s->client && (d->caps & writable) != writable) {
            return -EPERM;
        }
        for (const auto& sub : m.subscriptions) {
            if (sub.sender == sender && sub.dest == dest) {
                return -EBUSY;
            }
        }
        m.subscriptions.push_back({sender, dest});
        return 0;
    });
}

int snd_seq_disconnect_to(snd_seq_t* seq, int my_port, int dest_client, int dest_port) {
    return WithOpenHandle(seq, [&](Model& m, snd_seq_t* s) {
        const Address sender{s->client, my_port};
        const Address dest{dest_client, dest_port};
        if (m.port(sender) == nullptr || m.port(dest) == nullptr) {
            return -ENXIO;
        }
        const auto removed = std::erase_if(m.subscriptions, [&](const Subscription& sub) {
            return sub.sender == sender && sub.dest == dest;
        });
        return removed != 0 ? 0 : -ENOENT;
    });
}

int snd_seq_event_output_direct(snd_seq_t* handle, snd_seq_event_t* ev) {
    if (ev == nullptr) {
        return -EINVAL;
    }
    return WithOpenHandle(handle, [&](Model& m, snd_seq_t* s) {
        if (const int error = TakeFailure(m); error != 0) {
            return error;
        }
        Payload data;
        if (const int error = takeData(*ev, data); error < 0) {
            return error;
        }
        return write(m, *s, *ev, data);
    });
}

int snd_seq_event_output(snd_seq_t* handle, snd_seq_event_t* ev) {
    if (ev == nullptr) {
        return -EINVAL;
    }
    Model& m = model();
    std::unique_lock lock(m.mutex);
    snd_seq_t* s = m.open(handle);
    if (s == nullptr) {
        return -EBADFD;
    }
    const auto bytes = static_cast<std::size_t>(eventBytes(*ev));
    if (bytes >= kOutputBufferBytes) {
        return -EINVAL;
    }
    Payload data;
    if (const int error = takeData(*ev, data); error < 0) {
        return error;
    }
    if (kOutputBufferBytes - s->pendingBytes < bytes) {
        lock.unlock();
        if (const int drained = snd_seq_drain_output(handle); drained < 0) {
            return drained;
        }
        lock.lock();
        if (m.open(handle) != s) {
            return -EBADFD;
        }
    }
    s->pending.push_back({*ev, std::move(data.bytes), data.length});
    s->pendingBytes += bytes;
    return static_cast<int>(s->pendingBytes);
}

int snd_seq_drain_output(snd_seq_t* handle) {
    return WithOpenHandle(handle, [&](Model& m, snd_seq_t* s) {
        if (s->pending.empty()) {
            return 0;
        }
        if (const int error = TakeFailure(m); error != 0) {
            return error;
        }
        // In order; an event that fails stays first in the buffer, with those after it.
        std::size_t sent = 0;
        int result = 0;
        for (; sent < s->pending.size(); ++sent) {
            const auto& p = s->pending[sent];
            const int r = write(m, *s, p.event, Payload{p.bytes, p.length});
            if (r < 0) {
                result = r;
                break;
            }
            s->pendingBytes -= static_cast<std::size_t>(eventBytes(p.event));
        }
        s->pending.erase(s->pending.begin(),
                         s->pending.begin() + static_cast<std::ptrdiff_t>(sent));
        return result;
    });
}

const char* snd_strerror(int errnum) {
    if (errnum < 0) {
        errnum = -errnum;
    }
    if (errnum < SND_ERROR_BEGIN) {
        return std::strerror(errnum);
    }
    if (errnum == SND_ERROR_INCOMPATIBLE_VERSION) {
        return "Sound protocol is not compatible";
    }
    return "Unknown error";
}

}  // extern "C"

namespace alsa_model {

int AddDestination(const std::string& clientName, const std::string& portName) {
    Model& m = model();
    std::lock_guard lock(m.mutex);
    const int client = m.newClient(clientName, true, true, false);
    if (client >= 0) {
        m.clients[client].ports[0] =
            Port{portName, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE};
    }
    return client;
}

std::vector<Received> ReceivedBy(int client, int port) {
    Model& m = model();
    std::lock_guard lock(m.mutex);
    auto r = m.received.find({client, port});
    return r == m.received.end() ? std::vector<Received>{} : r->second;
}

std::string ClientName(int client) {
    Model& m = model();
    std::lock_guard lock(m.mutex);
    auto c = m.clients.find(client);
    return c == m.clients.end() ? "" : c->second.name;
}

void RemoveClient(int client) {
    Model& m = model();
    std::lock_guard lock(m.mutex);
    auto c = m.clients.find(client);
    if (c != m.clients.end() && !c->second.hasHandle) {
        m.removeClient(client);
    }
}

void FailNextOutput(int negativeErrno) {
    Model& m = model();
    std::lock_guard lock(m.mutex);
    m.failNext = negativeErrno;
}

int OpenHandles() {
    Model& m = model();
    std::lock_guard lock(m.mutex);
    return static_cast<int>(m.handles.size());
}

void Reset() {
    Model& m = model();
    std::lock_guard lock(m.mutex);
    for (auto& [address, seq] : m.handles) {
        seq->client = -1;
        m.dropped.emplace(address, std::move(seq));
    }
    m.handles.clear();
    m.clients.clear();
    m.subscriptions.clear();
    m.received.clear();
    m.failNext.reset();
}

}  // namespace alsa_model
