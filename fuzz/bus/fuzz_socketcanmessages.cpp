// Messages of a CAN socket as a faulty driver or kernel could hand them
// over: any length, flags and control messages. The conversion must never
// read past what it got, and what it makes must be a valid classic frame.
#include "canbackend.h"
#include "socketcanmessages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <linux/can.h>
#include <sys/socket.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SocketCanMessages messages;
    messages.reset(1000000000, size > 0 && (data[0] & 1));
    size_t at = size > 0 ? 1 : 0;
    while (at + 3 + sizeof(canfd_frame) <= size) {
        const uint8_t lengthCode = data[at];
        const uint8_t flags = data[at + 1];
        const size_t controlLength = data[at + 2];
        at += 3;
        canfd_frame raw;
        std::memcpy(&raw, data + at, sizeof raw);
        at += sizeof raw;

        // Exactly as long as the input says, so that ASan sees any overread.
        const size_t available = controlLength < size - at ? controlLength : size - at;
        auto *control = static_cast<unsigned char *>(std::malloc(available ? available : 1));
        std::memcpy(control, data + at, available);
        at += available;

        msghdr header {};
        header.msg_control = available ? control : nullptr;
        header.msg_controllen = available;
        header.msg_flags = (flags & 1) ? MSG_CONFIRM : 0;
        const unsigned length = lengthCode == 0 ? unsigned(CAN_MTU) : lengthCode == 1 ? unsigned(CANFD_MTU) : lengthCode;

        CanFrame frame;
        if (messages.take(header, length, raw, &frame) == SocketCanMessages::Frame) {
            if (frame.dlc > 8 || frame.timestampUs < -1)
                std::abort();
            if (frame.id > (frame.extended ? 0x1FFFFFFFu : 0x7FFu) && !frame.error)
                std::abort();
            if (frame.error && frame.rtr)
                std::abort();
        }
        const unsigned state = messages.busState();
        if (state != 0 && state != CanBackend::BusLight && state != CanBackend::BusHeavy && state != CanBackend::BusOff)
            std::abort();
        if (messages.takeLatched() & ~unsigned(CanBackend::ControllerOverrun | CanBackend::RxQueueOverrun))
            std::abort();
        std::free(control);
    }
    return 0;
}
