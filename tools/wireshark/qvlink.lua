-- QV-LINK telemechanics bus dissector for Wireshark and tshark.
--
-- Decodes the datagrams of the bus (UDP port 973 by default) with the same rules as the
-- monitor: the header of sequenced and class-only device types, every TS and TI item of a
-- report (the list ends at a zero point number or at payload offset 234; bytes past the end
-- of the datagram read as zero), time tags, silence requests, text messages in
-- Windows-1251, and the change-IP command. The Info column carries the monitor's own trace
-- description, byte for byte. Datagrams the monitor drops are marked with an expert-info
-- error naming the reason instead of raising a Lua error.

local qvlink = Proto("qvlink", "QV-LINK telemechanics bus")

local DEFAULT_PORT = 973
local MAX_DATAGRAM = 240
local MIN_DATAGRAM = 10
local PAYLOAD_OFFSET = 9
local PAYLOAD_AREA = 234
local POINT_COUNT = 500

local FLAG_STATE = 0x01
local FLAG_HIGH_BIT = 0x02
local FLAG_DOUBLE_POINT = 0x04
local FLAG_TIME_TAG = 0x08

local TS_ITEM_SIZE = 3
local TI_ITEM_SIZE = 7
local TIME_TAG_SIZE = 7

local CLASS_TI, CLASS_TS, CLASS_TU, CLASS_TIME, CLASS_SILENCE, CLASS_TEXT = 1, 2, 3, 4, 5, 6
local CLASS_ONLY_TIME_SETTING, CLASS_ONLY_TS, CLASS_ONLY_TI = 1, 68, 72
local SUBTYPE_CYCLIC, SUBTYPE_SPORADIC, SUBTYPE_SET_IP = 2, 3, 10

-- family: how the description names the classes of the type.
local device_types = {
    [1] = { name = "Тирон", sequenced = true, family = "telemechanics" },
    [16] = { name = "Ларта-К", sequenced = true, family = "telemechanics" },
    [17] = { name = "Ровен-8", sequenced = true, family = "telemechanics" },
    [18] = { name = "Ларта-К", sequenced = true, family = "telemechanics" },
    [33] = { name = "Ведра", sequenced = true, family = "name_only" },
    [34] = { name = "Ведра", sequenced = true, family = "name_only" },
    [8] = { name = "Ларта-Т", sequenced = false, family = "class_only" },
    [204] = { name = "Ларта-С", sequenced = false, family = "class_only" },
}

local type_names = { [0] = "command" }
for code, info in pairs(device_types) do
    type_names[code] = info.name
end

local telemechanics_classes = {
    [CLASS_TI] = "TI", [CLASS_TS] = "TS", [CLASS_TU] = "TU", [CLASS_TIME] = "time",
    [CLASS_SILENCE] = "silence request", [CLASS_TEXT] = "text message",
}
local class_only_classes = {
    [CLASS_ONLY_TIME_SETTING] = "time setting", [CLASS_ONLY_TS] = "TS", [CLASS_ONLY_TI] = "TI",
}
local subtype_names = { [SUBTYPE_CYCLIC] = "cyclic", [SUBTYPE_SPORADIC] = "sporadic" }

------------------------------------------------------------------------------------------
-- Fields

local f = {
    magic = ProtoField.uint16("qvlink.magic", "Magic", base.HEX),
    type = ProtoField.uint8("qvlink.type", "Device type", base.DEC, type_names),
    mac = ProtoField.ether("qvlink.mac", "MAC"),
    seq = ProtoField.uint8("qvlink.seq", "Sequence number", base.DEC),
    class = ProtoField.uint8("qvlink.class", "Message class", base.DEC),
    subtype = ProtoField.uint8("qvlink.subtype", "Subtype", base.DEC, subtype_names),
    description = ProtoField.string("qvlink.description", "Description"),
    drop = ProtoField.string("qvlink.drop", "Dropped by the monitor"),
    payload = ProtoField.bytes("qvlink.payload", "Payload"),

    ts = ProtoField.none("qvlink.ts", "TS item"),
    ts_number = ProtoField.uint16("qvlink.ts.number", "Point", base.DEC),
    ts_flags = ProtoField.uint8("qvlink.ts.flags", "Flags", base.HEX),
    ts_flag_state = ProtoField.bool("qvlink.ts.flags.state", "State bit", 8, nil, FLAG_STATE),
    ts_flag_high = ProtoField.bool("qvlink.ts.flags.high", "High bit of the pair", 8, nil,
        FLAG_HIGH_BIT),
    ts_flag_double = ProtoField.bool("qvlink.ts.flags.double", "Two-position signal", 8, nil,
        FLAG_DOUBLE_POINT),
    ts_flag_timetag = ProtoField.bool("qvlink.ts.flags.timetag", "Time tag follows", 8, nil,
        FLAG_TIME_TAG),
    ts_state = ProtoField.string("qvlink.ts.state", "State"),
    ts_code = ProtoField.string("qvlink.ts.code", "State bits"),

    ti = ProtoField.none("qvlink.ti", "TI item"),
    ti_number = ProtoField.uint16("qvlink.ti.number", "Point", base.DEC),
    ti_flags = ProtoField.uint8("qvlink.ti.flags", "Flags", base.HEX),
    ti_flag_timetag = ProtoField.bool("qvlink.ti.flags.timetag", "Time tag follows", 8, nil,
        FLAG_TIME_TAG),
    ti_value = ProtoField.float("qvlink.ti.value", "Value"),
    ti_text = ProtoField.string("qvlink.ti.text", "Value as shown"),

    timetag = ProtoField.string("qvlink.timetag", "Time tag"),
    timetag_msec = ProtoField.uint16("qvlink.timetag.msec", "Milliseconds within the minute"),
    timetag_minute = ProtoField.uint8("qvlink.timetag.minute", "Minute byte"),
    timetag_hour = ProtoField.uint8("qvlink.timetag.hour", "Hour byte"),
    timetag_day = ProtoField.uint8("qvlink.timetag.day", "Day byte"),
    timetag_month = ProtoField.uint8("qvlink.timetag.month", "Month byte"),
    timetag_year = ProtoField.uint8("qvlink.timetag.year", "Year byte"),

    silence = ProtoField.uint16("qvlink.silence", "Silence (ms)", base.DEC),
    text = ProtoField.string("qvlink.text", "Text", base.UNICODE),

    command = ProtoField.none("qvlink.command", "Change-IP command"),
    command_mac = ProtoField.string("qvlink.command.mac", "Target MAC"),
    command_ip = ProtoField.string("qvlink.command.ip", "New IP address"),
}
qvlink.fields = f

local e = {
    too_long = ProtoExpert.new("qvlink.too_long", "Too long: the monitor drops datagrams over 240 bytes",
        expert.group.MALFORMED, expert.severity.ERROR),
    bad_magic = ProtoExpert.new("qvlink.bad_magic", "Bad magic: the monitor drops datagrams not starting FA CE",
        expert.group.MALFORMED, expert.severity.ERROR),
    too_short = ProtoExpert.new("qvlink.too_short", "Too short: the monitor drops datagrams under 10 bytes",
        expert.group.MALFORMED, expert.severity.ERROR),
    unknown_type = ProtoExpert.new("qvlink.unknown_type",
        "Unknown device type: the monitor drops the datagram", expert.group.MALFORMED,
        expert.severity.ERROR),
    truncated = ProtoExpert.new("qvlink.truncated", "The capture holds only part of the datagram",
        expert.group.MALFORMED, expert.severity.WARN),
    command = ProtoExpert.new("qvlink.command.note",
        "Change-IP command (device type 0): the monitor does not decode it", expert.group.REQUEST_CODE,
        expert.severity.NOTE),
    point_ignored = ProtoExpert.new("qvlink.point_ignored",
        "Point number outside 1 to 500: the monitor ignores this item", expert.group.PROTOCOL,
        expert.severity.NOTE),
}
qvlink.experts = { e.too_long, e.bad_magic, e.too_short, e.unknown_type, e.truncated, e.command,
    e.point_ignored }

qvlink.prefs.port = Pref.uint("UDP port", DEFAULT_PORT, "UDP port of the bus")

------------------------------------------------------------------------------------------
-- Windows-1251 to UTF-8

local function utf8_char(code)
    if code < 0x80 then
        return string.char(code)
    elseif code < 0x800 then
        return string.char(0xC0 + math.floor(code / 0x40), 0x80 + code % 0x40)
    end
    return string.char(0xE0 + math.floor(code / 0x1000), 0x80 + math.floor(code / 0x40) % 0x40,
        0x80 + code % 0x40)
end

-- Code points of bytes 0x80 to 0xBF; 0xC0 to 0xFF are А to я. 0x98 has no character.
local cp1251_high = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
}

local cp1251_utf8 = {}
for byte = 0, 255 do
    local code = byte
    if byte >= 0xC0 then
        code = 0x0410 + byte - 0xC0
    elseif byte >= 0x80 then
        code = cp1251_high[byte - 0x80 + 1]
    end
    cp1251_utf8[byte] = utf8_char(code)
end

------------------------------------------------------------------------------------------
-- Text rendering, as the monitor renders

local function ts_state_text(flags)
    local state = bit32.band(flags, FLAG_STATE) ~= 0
    if bit32.band(flags, FLAG_DOUBLE_POINT) == 0 then
        return state and "вкл" or "откл"
    end
    local high = bit32.band(flags, FLAG_HIGH_BIT) ~= 0
    if high then
        return state and "авария" or "вкл"
    end
    return state and "откл" or "обрыв"
end

local function ts_code_text(flags)
    local state = bit32.band(flags, FLAG_STATE) ~= 0 and "1" or "0"
    if bit32.band(flags, FLAG_DOUBLE_POINT) == 0 then
        return state
    end
    return (bit32.band(flags, FLAG_HIGH_BIT) ~= 0 and "1" or "0") .. state
end

-- The single-precision value of 32 bits, widened exactly to a Lua number.
local function float_from_bits(bits)
    local negative = bits >= 0x80000000
    local exponent = math.floor(bits / 0x800000) % 0x100
    local mantissa = bits % 0x800000
    local magnitude
    if exponent == 0xFF then
        magnitude = mantissa == 0 and math.huge or 0 / 0
    elseif exponent == 0 then
        magnitude = math.ldexp(mantissa, -149)
    else
        magnitude = math.ldexp(mantissa + 0x800000, exponent - 150)
    end
    return negative and -magnitude or magnitude
end

-- Fixed point with two decimals as the monitor shows a TI value: halves rounded away from
-- zero on the value's 18-significant-digit decimal expansion, "-" for every negative value
-- (a negative zero is not one).
--
-- "%.2f" rounds the exact binary value correctly but takes a half to even, so it differs
-- from the monitor exactly at halves: 0.125 gives 0.12, the monitor 0.13. A float lies on
-- a half-hundredth only when eight times it is odd (the halves are the odd eighths). The
-- 18-digit expansion moves no other value across a rounding boundary: a float of up to 24
-- significant bits is never within 5e-18 of its own size of a half-hundredth it does not
-- equal, and integers (every float of 2^24 or more) have no fraction to round. From 10^18
-- on, the digits after the 18th are zeros; "%.17e" rounds the exact value there, which never
-- lies on a half (it is a multiple of 2^36 or more).
local function ti_value_text(bits)
    local negative = bits >= 0x80000000
    if math.floor(bits / 0x800000) % 0x100 == 0xFF then
        local word = (bits % 0x800000 == 0) and "INF" or "NAN"
        return (negative and "-" or "") .. word
    end
    local value = float_from_bits(bits)
    local magnitude = math.abs(value)
    local text
    if (magnitude * 8) % 2 == 1 then
        -- Exact in a double: a half-hundredth float is below 2^21.
        local hundredths = magnitude * 100 + 0.5
        text = string.format("%d.%02d", math.floor(hundredths / 100), hundredths % 100)
    elseif magnitude >= 1e18 then
        local first, rest, exponent =
            string.format("%.17e", magnitude):match("^(%d)%.(%d+)e%+(%d+)$")
        text = first .. rest .. string.rep("0", tonumber(exponent) - #rest) .. ".00"
    else
        text = string.format("%.2f", magnitude)
    end
    return (value < 0 and "-" or "") .. text
end

------------------------------------------------------------------------------------------
-- Payload area: datagram bytes from offset 9 on, zero beyond them up to 234 bytes.

local Area = {}
Area.__index = Area

local function new_area(tvb)
    local available = math.min(tvb:len(), PAYLOAD_OFFSET + PAYLOAD_AREA) - PAYLOAD_OFFSET
    local bytes = available > 0 and tvb:raw(PAYLOAD_OFFSET, available) or ""
    return setmetatable({ tvb = tvb, bytes = bytes, available = available }, Area)
end

function Area:byte(pos)
    if pos < 0 or pos >= PAYLOAD_AREA then
        return 0
    end
    return self.bytes:byte(pos + 1) or 0
end

function Area:u16(pos)
    return self:byte(pos) + self:byte(pos + 1) * 0x100
end

function Area:u32(pos)
    return self:u16(pos) + self:u16(pos + 2) * 0x10000
end

-- The captured bytes behind `len` area bytes at `pos`, or nil when none were received.
function Area:range(pos, len)
    local have = math.min(len, self.available - pos)
    if have <= 0 then
        return nil
    end
    return self.tvb(PAYLOAD_OFFSET + pos, have)
end

-- Adds a field whose value comes from the area (so zero padding decodes like the
-- monitor), highlighting the received bytes behind it.
function Area:add(tree, field, pos, len, value)
    -- Zero bytes past the datagram have no place in the frame: an empty range at its end.
    local range = self:range(pos, len) or self.tvb(self.tvb:len(), 0)
    if value == nil then
        return tree:add(field, range)
    end
    return tree:add_le(field, range, value)
end

------------------------------------------------------------------------------------------
-- Items

local function add_time_tag(area, tree, pos)
    local msec, minute, hour = area:u16(pos), area:byte(pos + 2), area:byte(pos + 3)
    local day, month, year = area:byte(pos + 4), area:byte(pos + 5), area:byte(pos + 6)
    local text
    if month == 0 then
        text = "- (month 0: no time tag)"
    else
        -- The seven-octet time: flag bits beside the fields are masked off for the date.
        text = string.format("20%02d-%02d-%02d %02d:%02d:%02d.%03d", year % 0x80, month % 0x10,
            day % 0x20, hour % 0x20, minute % 0x40, math.floor(msec / 1000), msec % 1000)
    end
    local tag = area:add(tree, f.timetag, pos, TIME_TAG_SIZE, text)
    area:add(tag, f.timetag_msec, pos, 2, msec)
    area:add(tag, f.timetag_minute, pos + 2, 1, minute)
    area:add(tag, f.timetag_hour, pos + 3, 1, hour)
    area:add(tag, f.timetag_day, pos + 4, 1, day)
    area:add(tag, f.timetag_month, pos + 5, 1, month)
    area:add(tag, f.timetag_year, pos + 6, 1, year)
end

-- Offset of the next item after one ending at `pos`, or 0 when the list ends there.
local function next_item(area, pos)
    if area:byte(pos) == 0 and area:byte(pos + 1) == 0 then
        return 0
    end
    return pos
end

local function add_ts_item(area, tree, pos)
    local number, flags = area:u16(pos), area:byte(pos + 2)
    local tagged = bit32.band(flags, FLAG_TIME_TAG) ~= 0
    local state = ts_state_text(flags)
    local item = area:add(tree, f.ts, pos, TS_ITEM_SIZE + (tagged and TIME_TAG_SIZE or 0))
    item:set_text(string.format("TS %d = %s (flags 0x%02X)", number, state, flags))
    area:add(item, f.ts_number, pos, 2, number)
    local flag_item = area:add(item, f.ts_flags, pos + 2, 1, flags)
    for _, bit_field in ipairs({ f.ts_flag_state, f.ts_flag_high, f.ts_flag_double,
        f.ts_flag_timetag }) do
        area:add(flag_item, bit_field, pos + 2, 1, flags)
    end
    area:add(item, f.ts_state, pos + 2, 1, state)
    area:add(item, f.ts_code, pos + 2, 1, ts_code_text(flags))
    if number == 0 or number > POINT_COUNT then
        item:add_proto_expert_info(e.point_ignored)
    end
    local after = pos + TS_ITEM_SIZE
    if tagged then
        add_time_tag(area, item, after)
        after = after + TIME_TAG_SIZE
    end
    return next_item(area, after)
end

local function add_ti_item(area, tree, pos)
    local number, flags, bits = area:u16(pos), area:byte(pos + 2), area:u32(pos + 3)
    local tagged = bit32.band(flags, FLAG_TIME_TAG) ~= 0
    local shown = ti_value_text(bits)
    local item = area:add(tree, f.ti, pos, TI_ITEM_SIZE + (tagged and TIME_TAG_SIZE or 0))
    item:set_text(string.format("TI %d = %s (flags 0x%02X)", number, shown, flags))
    area:add(item, f.ti_number, pos, 2, number)
    local flag_item = area:add(item, f.ti_flags, pos + 2, 1, flags)
    area:add(flag_item, f.ti_flag_timetag, pos + 2, 1, flags)
    area:add(item, f.ti_value, pos + 3, 4, float_from_bits(bits))
    area:add(item, f.ti_text, pos + 3, 4, shown)
    if number == 0 or number > POINT_COUNT then
        item:add_proto_expert_info(e.point_ignored)
    end
    local after = pos + TI_ITEM_SIZE
    if tagged then
        add_time_tag(area, item, after)
        after = after + TIME_TAG_SIZE
    end
    return next_item(area, after)
end

-- Every item of the list, as the monitor stores them: the first one always, the next ones
-- until a zero point number or payload offset 234.
local function add_items(area, tree, add_item)
    local pos = 0
    repeat
        pos = add_item(area, tree, pos)
    until pos == 0 or pos >= PAYLOAD_AREA
end

------------------------------------------------------------------------------------------
-- Datagram

-- What the monitor's reception checks say, in their order; nil for an accepted datagram.
local function drop_reason(tvb)
    local size = tvb:reported_len()
    if size > MAX_DATAGRAM then
        return "too long", e.too_long
    end
    if tvb:len() < size then
        return "truncated", e.truncated
    end
    if size < 2 or tvb(0, 1):uint() ~= 0xFA or tvb(1, 1):uint() ~= 0xCE then
        return "bad magic", e.bad_magic
    end
    if size < MIN_DATAGRAM then
        return "too short", e.too_short
    end
    if not device_types[tvb(2, 1):uint()] then
        return "unknown device type", e.unknown_type
    end
    return nil
end

local function mac_text(tvb)
    local parts = {}
    for i = 0, 5 do
        parts[#parts + 1] = string.format("%02X", tvb(i, 1):uint())
    end
    return table.concat(parts, ":")
end

-- Length of the text of a text message: the bytes before the first zero of the area.
local function text_length(area)
    local length = 0
    while length < PAYLOAD_AREA and area:byte(length) ~= 0 do
        length = length + 1
    end
    return length
end

local function message_text(area)
    local chars = {}
    for pos = 0, text_length(area) - 1 do
        chars[#chars + 1] = cp1251_utf8[area:byte(pos)]
    end
    return table.concat(chars)
end

-- The change-IP command the monitor broadcasts: type 0, class 6, subtype 10, body
-- "<MAC> <IP>\0" followed by six zero bytes.
local function is_change_ip(tvb)
    return tvb:len() >= PAYLOAD_OFFSET and tvb(2, 1):uint() == 0 and tvb(7, 1):uint() == CLASS_TEXT
        and tvb(8, 1):uint() == SUBTYPE_SET_IP
end

local function dissect_change_ip(tvb, tree)
    local body = tvb:raw(PAYLOAD_OFFSET, tvb:len() - PAYLOAD_OFFSET)
    local text = body:sub(1, (body:find("\0", 1, true) or (#body + 1)) - 1)
    local mac, ip = text:match("^(%S+) (.*)$")
    tree:add(f.seq, tvb(6, 1))
    tree:add(f.class, tvb(7, 1))
    tree:add(f.subtype, tvb(8, 1)):append_text(" (change IP)")
    local command = tree:add(f.command, tvb(PAYLOAD_OFFSET, tvb:len() - PAYLOAD_OFFSET))
    if mac then
        command:add(f.command_mac, tvb(PAYLOAD_OFFSET, #mac), mac)
        command:add(f.command_ip, tvb(PAYLOAD_OFFSET + #mac + 1, #ip), ip)
    end
    command:add_proto_expert_info(e.command)
    return string.format("change-IP command: %s %s", mac or "?", ip or "?")
end

-- What the monitor's description appends after "<name>: " for a sequenced type.
local function sequenced_description(info, tvb, area)
    if info.family ~= "telemechanics" then
        return ""
    end
    local msg_class, subtype = tvb(7, 1):uint(), tvb(8, 1):uint()
    if msg_class == CLASS_TI or msg_class == CLASS_TS then
        local text = msg_class == CLASS_TI and "ТИ" or "ТС"
        if subtype == SUBTYPE_CYCLIC then
            return text .. " цикл"
        elseif subtype == SUBTYPE_SPORADIC then
            -- Only the first item, at payload offset 0, is named.
            local shown = msg_class == CLASS_TI and ti_value_text(area:u32(3))
                or ts_state_text(area:byte(2))
            return string.format("%s спорадика (%d = %s)", text, area:u16(0), shown)
        end
        return text
    elseif msg_class == CLASS_TU then
        return "ТУ"
    elseif msg_class == CLASS_TIME then
        return "Время"
    elseif msg_class == CLASS_SILENCE then
        return "Запрос тишины " .. area:u16(0) .. " мс"
    elseif msg_class == CLASS_TEXT then
        return " " .. message_text(area)
    end
    return ""
end

local function class_only_description(tvb)
    local msg_class = tvb(6, 1):uint()
    if msg_class == CLASS_ONLY_TIME_SETTING then
        return "Установка времени"
    elseif msg_class == CLASS_ONLY_TS then
        return "ТС"
    elseif msg_class == CLASS_ONLY_TI then
        return "ТИ"
    end
    return ""
end

local function add_sequenced_fields(info, tvb, tree, area)
    tree:add(f.seq, tvb(6, 1))
    local msg_class = tvb(7, 1):uint()
    local class_item = tree:add(f.class, tvb(7, 1))
    tree:add(f.subtype, tvb(8, 1))
    if area.available > 0 then
        tree:add(f.payload, tvb(PAYLOAD_OFFSET, area.available))
    end
    local telemechanics = info.family == "telemechanics"
    if telemechanics and telemechanics_classes[msg_class] then
        class_item:append_text(" (" .. telemechanics_classes[msg_class] .. ")")
    end
    -- The monitor stores the items of every sequenced type, whatever the description says.
    if msg_class == CLASS_TI then
        add_items(area, tree, add_ti_item)
    elseif msg_class == CLASS_TS then
        add_items(area, tree, add_ts_item)
    elseif telemechanics and msg_class == CLASS_SILENCE then
        area:add(tree, f.silence, 0, 2, area:u16(0))
    elseif telemechanics and msg_class == CLASS_TEXT then
        area:add(tree, f.text, 0, math.max(text_length(area), 1), message_text(area))
    end
end

local function add_class_only_fields(tvb, tree)
    local name = class_only_classes[tvb(6, 1):uint()]
    local class_item = tree:add(f.class, tvb(6, 1))
    if name then
        class_item:append_text(" (" .. name .. ")")
    end
end

function qvlink.dissector(tvb, pinfo, root)
    pinfo.cols.protocol = "QV-LINK"
    local tree = root:add(qvlink, tvb())
    -- No tree is built when only the summary lines are printed: skip what shows nowhere else.
    local building = tree.text ~= nil
    local size = tvb:len()

    if building then
        if size >= 2 then
            tree:add(f.magic, tvb(0, 2))
        end
        if size >= 3 then
            tree:add(f.type, tvb(2, 1))
        end
        if size >= 6 then
            tree:add(f.mac, tvb(0, 6)):set_text("MAC: " .. mac_text(tvb))
        end
    end

    local reason, expert_field = drop_reason(tvb)
    if reason then
        tree:add(f.drop, reason)
        if reason == "unknown device type" and is_change_ip(tvb) then
            pinfo.cols.info:set(dissect_change_ip(tvb, tree))
        else
            tree:add_proto_expert_info(expert_field)
            pinfo.cols.info:set("[dropped: " .. reason .. "]")
        end
        return size
    end

    local info = device_types[tvb(2, 1):uint()]
    local area = info.sequenced and new_area(tvb)
    local description = info.name .. ": " ..
        (info.sequenced and sequenced_description(info, tvb, area) or class_only_description(tvb))
    pinfo.cols.info:set(description)
    if building then
        if info.sequenced then
            add_sequenced_fields(info, tvb, tree, area)
        else
            add_class_only_fields(tvb, tree)
        end
        tree:add(f.description, description)
        tree:append_text(", " .. description)
    end
    return size
end

------------------------------------------------------------------------------------------
-- Registration

local registered_port = qvlink.prefs.port
DissectorTable.get("udp.port"):add(registered_port, qvlink)

function qvlink.prefs_changed()
    if qvlink.prefs.port ~= registered_port then
        local udp = DissectorTable.get("udp.port")
        udp:remove(registered_port, qvlink)
        registered_port = qvlink.prefs.port
        udp:add(registered_port, qvlink)
    end
end
