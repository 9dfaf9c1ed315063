#include "busstats/drop_reason.h"

namespace qvlink {

std::optional<DropReason> dropReasonOf(DatagramVerdict verdict) {
    switch (verdict) {
        case DatagramVerdict::Accepted:
            return std::nullopt;
        case DatagramVerdict::TooLong:
            return DropReason::TooLong;
        case DatagramVerdict::NoMagic:
            return DropReason::NoMagic;
        case DatagramVerdict::TooShort:
            return DropReason::TooShort;
        case DatagramVerdict::UnknownType:
            return DropReason::UnknownType;
    }
    return DropReason::UnknownType;
}

const char* dropReasonName(DropReason reason) {
    switch (reason) {
        case DropReason::TooLong:
            return verdictText(DatagramVerdict::TooLong);
        case DropReason::NoMagic:
            return verdictText(DatagramVerdict::NoMagic);
        case DropReason::TooShort:
            return verdictText(DatagramVerdict::TooShort);
        case DropReason::UnknownType:
            return verdictText(DatagramVerdict::UnknownType);
        case DropReason::Empty:
            return "empty";
        case DropReason::Fragment:
            return "fragment";
        case DropReason::Truncated:
            return "truncated";
    }
    return "";
}

const char* dropReasonCaption(DropReason reason) {
    switch (reason) {
        case DropReason::TooLong:
            return "слишком длинный";
        case DropReason::NoMagic:
            return "нет сигнатуры FA CE";
        case DropReason::TooShort:
            return "слишком короткий";
        case DropReason::UnknownType:
            return "неизвестный тип устройства";
        case DropReason::Empty:
            return "пустой";
        case DropReason::Fragment:
            return "фрагмент IP";
        case DropReason::Truncated:
            return "неполный в захвате";
    }
    return "";
}

bool isCaptureOnly(DropReason reason) {
    return reason == DropReason::Fragment || reason == DropReason::Truncated;
}

}  // namespace qvlink
