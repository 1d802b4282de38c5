#include "Board.h"

namespace mirtolan {

void BoardLink::attach(Machine* machine)
{
    std::lock_guard lock(mutex_);
    machine_ = machine;
    ++generation_;
    lastPins_.clear();
    lastUart_.clear();
    lastAdcChannels_ = machine->adcChannels();
    machine->setRealTime(realTime_);
    for (const auto& [channel, volts] : adc_)
        machine->driveAdc(channel, volts);
}

void BoardLink::detach(const Machine* machine)
{
    std::lock_guard lock(mutex_);
    if (machine_ != machine)
        return; // a later machine has taken the board
    lastPins_ = machine_->pinStates();
    lastUart_ = machine_->uartSince(0);
    machine_ = nullptr;
}

bool BoardLink::attached() const
{
    std::lock_guard lock(mutex_);
    return machine_ != nullptr;
}

std::uint64_t BoardLink::generation() const
{
    std::lock_guard lock(mutex_);
    return generation_;
}

std::vector<PinState> BoardLink::pins() const
{
    std::lock_guard lock(mutex_);
    return machine_ ? machine_->pinStates() : lastPins_;
}

int BoardLink::adcChannels() const
{
    std::lock_guard lock(mutex_);
    return lastAdcChannels_;
}

std::string BoardLink::uartSince(std::size_t from) const
{
    std::lock_guard lock(mutex_);
    if (machine_)
        return machine_->uartSince(from);
    return from < lastUart_.size() ? lastUart_.substr(from) : std::string();
}

void BoardLink::drivePin(char port, int bit, int level)
{
    std::lock_guard lock(mutex_);
    if (machine_)
        machine_->drivePin(port, bit, level);
}

void BoardLink::driveAdc(int channel, double volts)
{
    std::lock_guard lock(mutex_);
    adc_[channel] = volts;
    if (machine_)
        machine_->driveAdc(channel, volts);
}

void BoardLink::sendUart(const std::string& bytes)
{
    std::lock_guard lock(mutex_);
    if (machine_)
        machine_->sendUart(bytes);
}

void BoardLink::setRealTime(bool on)
{
    std::lock_guard lock(mutex_);
    realTime_ = on;
    if (machine_)
        machine_->setRealTime(on);
}

} // namespace mirtolan
