-- Wireshark dissector for Tarvion's wire capture (tarvion --capture FILE,
-- tarvion-scan --capture FILE): the serial lines to ORVETA terminals.
--
-- Installed as a plugin it is found by every user's Wireshark and tshark;
-- without, open a capture with
--   wireshark -X lua_script:tarvion.lua FILE.pcapng
--   tshark -X lua_script:tarvion.lua -r FILE.pcapng -V
--
-- The capture's link type is LINKTYPE_USER0 (147). Every packet starts with
-- a pseudo-header of 12 bytes, numbers big-endian:
--   0  1  version, 1
--   1  1  kind: 1 frame sent, 2 RTS on, 3 RTS off, 4 poll, 5 ack, 6 NAK
--         (or another byte that answered a frame instead of the ack),
--         7 data block, 8 other bytes received, 9 event, 10 bytes read away
--         by a flush of the receive queue
--   2  1  COM number 1-8; 0 for an event of the capture itself or a device
--         opened by its path
--   3  1  data block: how it ended, 0 by silence, 1 by a poll, 2 larger
--         than the capacity (the rest read away until the line was quiet);
--         otherwise 0
--   4  4  frame sent: the bytes the port accepted; data block: the bytes the
--         program stored (with a poll's first three), or for one larger than
--         the capacity all its bytes; otherwise 0
--   8  4  where these bytes start in their data block or run of other bytes,
--         when it went out in several packets; otherwise 0
--  12     the frame, poll, ack, NAK, data block, other or flushed bytes;
--         nothing for RTS; an event's text (UTF-8)
-- Polls, acks and NAKs are what Tarvion took for them as it read the line.
-- The direction is in the packet's flags (epb_flags): outbound, inbound.
--
-- A frame: address, length (the frame's bytes), command letter, payload,
-- checksum (the sum of the bytes before it, modulo 256). Person records
-- ('R', 'X' for a line 'Q', 'r' and 'q' for days 15-28), the 24- or 29-byte
-- records of a data answer ('R', 'Z' and their continuations 'r', 'q') and
-- the 27-byte status block ('S') are decoded as Tarvion decodes them; the
-- meal codes need Tarvion's counts of breakfasts and dinners, its meal
-- coding and its DT setting: Edit > Preferences > Protocols > Tarvion (or
-- tshark -o tarvion.breakfasts:4 ...). The defaults are Tarvion's.

local tarvion = Proto("tarvion", "Tarvion serial line to ORVETA terminals")

local kinds = {
  [1] = "frame sent", [2] = "RTS on", [3] = "RTS off", [4] = "poll", [5] = "ack", [6] = "NAK",
  [7] = "data block", [8] = "other bytes", [9] = "event", [10] = "flushed bytes",
}
local KIND_FRAME, KIND_POLL, KIND_ACK, KIND_NAK, KIND_BLOCK, KIND_OTHER, KIND_EVENT, KIND_FLUSHED =
  1, 4, 5, 6, 7, 8, 9, 10
local block_ends = { [0] = "ended by silence", [1] = "ended by a poll", [2] = "larger than the capacity (the rest read away)" }

local f = tarvion.fields
f.version = ProtoField.uint8("tarvion.version", "Pseudo-header version")
f.kind = ProtoField.uint8("tarvion.kind", "Kind", base.DEC, kinds)
f.com = ProtoField.uint8("tarvion.com", "COM")
f.block_end = ProtoField.uint8("tarvion.block_end", "Block end", base.DEC, block_ends)
f.accepted = ProtoField.uint32("tarvion.accepted", "Bytes accepted by the port")
f.stored = ProtoField.uint32("tarvion.stored", "Bytes stored by the program")
f.offset = ProtoField.uint32("tarvion.offset", "Offset of these bytes")
f.bytes = ProtoField.bytes("tarvion.bytes", "Bytes", base.SPACE)
f.event = ProtoField.string("tarvion.event", "Event")

f.address = ProtoField.uint8("tarvion.frame.address", "Address")
f.length = ProtoField.uint8("tarvion.frame.length", "Length")
f.command = ProtoField.string("tarvion.frame.command", "Command")
f.payload = ProtoField.bytes("tarvion.frame.payload", "Payload", base.SPACE)
f.text = ProtoField.string("tarvion.frame.text", "Text")
f.checksum = ProtoField.uint8("tarvion.frame.checksum", "Checksum", base.HEX)
f.checksum_ok = ProtoField.bool("tarvion.frame.checksum_ok", "Checksum ok")

f.number = ProtoField.uint16("tarvion.person.number", "Person number")
f.ident = ProtoField.bytes("tarvion.person.ident", "Identification (shown in hexadecimal)")
f.further = ProtoField.bytes("tarvion.person.further", "Further bytes")
f.flag = ProtoField.uint8("tarvion.person.flag", "Record flag", base.HEX)
f.days_main = ProtoField.string("tarvion.person.main", "Main meals")
f.days_breakfast = ProtoField.string("tarvion.person.breakfast", "Breakfasts")
f.days_dinner = ProtoField.string("tarvion.person.dinner", "Dinners")
f.name = ProtoField.string("tarvion.person.name", "Name")
f.credit_mark = ProtoField.string("tarvion.person.credit_mark", "Credit character")
f.credit = ProtoField.int32("tarvion.person.credit", "Credit")
f.values = ProtoField.string("tarvion.values", "Values")

f.record = ProtoField.bytes("tarvion.record", "Record")
f.record_type = ProtoField.string("tarvion.record.type", "Type")
f.record_dt = ProtoField.bytes("tarvion.record.dt", "DT bytes")
f.record_rest = ProtoField.bytes("tarvion.record.rest", "Two further bytes (not shown)")
f.line = ProtoField.string("tarvion.line", "Answer line")
f.records = ProtoField.uint32("tarvion.records", "Records")
f.status_clock = ProtoField.bytes("tarvion.status.clock", "Clock (YY MM DD weekday hh mm ss)")
f.status_text = ProtoField.string("tarvion.status.text", "Text")

local e_checksum = ProtoExpert.new("tarvion.checksum_wrong", "Checksum wrong", expert.group.CHECKSUM,
                                   expert.severity.WARN)
local e_nak = ProtoExpert.new("tarvion.nak.expert", "The terminal refused the frame (NAK)",
                              expert.group.RESPONSE_CODE, expert.severity.NOTE)
local e_length = ProtoExpert.new("tarvion.bad_length", "Not a whole number of records", expert.group.MALFORMED,
                                 expert.severity.WARN)
local e_short = ProtoExpert.new("tarvion.short_write", "The port did not accept the whole frame",
                                expert.group.SEQUENCE, expert.severity.WARN)
tarvion.experts = { e_checksum, e_nak, e_length, e_short }

tarvion.prefs.breakfasts = Pref.uint("Breakfasts", 4, "Tarvion's number of breakfast codes (BreakfastCount)")
tarvion.prefs.dinners = Pref.uint("Dinners", 6, "Tarvion's number of dinner codes (DinnerCount)")
tarvion.prefs.meal_coding = Pref.bool("Meal coding", true, "Tarvion's \"Kódování\": 'N' shares the code of '*'")
tarvion.prefs.dt = Pref.bool("DT bytes", false, "Tarvion's \"Používat DT\": answer records of 29 bytes")

local HEADER = 12
local POLL = "\16\4\85\105"

-- The meal code alphabet; with meal coding 'N' has no code of its own.
local ALPHABET = "*N01A2B3C4D5E6F7G8H"

local function meal_char(code)
  local coding = tarvion.prefs.meal_coding
  local size = coding and #ALPHABET - 1 or #ALPHABET
  if code < 0 or code >= size then return "0" end
  if code == 0 then return "*" end
  local at = coding and code + 2 or code + 1
  return ALPHABET:sub(at, at)
end

-- The three strings of 14 day bytes: raw days (flag bit 7) are the bytes
-- themselves; otherwise main meal, breakfast, dinner packed in mixed radix.
local function day_strings(days, flag)
  local b, d = tarvion.prefs.breakfasts, tarvion.prefs.dinners
  if b == 0 or d == 0 then return nil end
  local main, breakfast, dinner = {}, {}, {}
  for i = 1, #days do
    local byte = days:byte(i)
    if flag >= 0x80 then
      main[i], breakfast[i], dinner[i] = string.char(byte), "*", "*"
    else
      main[i] = meal_char(math.floor(byte / (b * d)))
      breakfast[i] = meal_char(math.floor(byte / d) % b)
      dinner[i] = meal_char(byte % d)
    end
  end
  return table.concat(main), table.concat(breakfast), table.concat(dinner)
end

-- Up to the first zero byte, as Tarvion's lines end.
local function up_to_zero(text)
  local zero = text:find("\0", 1, true)
  return zero and text:sub(1, zero - 1) or text
end

local function hex(text)
  return (text:gsub(".", function(c) return string.format("%02X", c:byte()) end))
end

local function printable(text)
  return (text:gsub("[^\32-\126]", "."))
end

-- The identification bytes, shown as Tarvion shows them (hexadecimal) and as characters.
local function add_ident(tree, range)
  tree:add(f.ident, range):append_text(" (\"" .. printable(range:raw()) .. "\")")
end

local function add_flag(tree, range)
  tree:add(f.flag, range):append_text(" ('" .. printable(range:raw()) .. "'" ..
                                      (range:uint() >= 0x80 and ", raw days)" or ")"))
end

local function add_days(tree, range, flag)
  local main, breakfast, dinner = day_strings(range:raw(), flag)
  if not main then
    tree:add(range, "Days: a breakfast or dinner count of 0 cannot decode them")
    return nil
  end
  tree:add(f.days_main, range, main)
  tree:add(f.days_breakfast, range, breakfast)
  tree:add(f.days_dinner, range, dinner)
  return main .. breakfast .. dinner
end

-- The credit word of a 'Q' line: a negative credit is 65535 minus its size.
local function credit_of(word)
  if word > 31000 then return word - 65535 end
  return word
end

-- A person record of a frame: 'R', 'X' (a line 'Q'), and 'r', 'q' with days 15-28.
local function dissect_person(payload, tree, letter)
  local days = (letter == "r" or letter == "q") and "days 15-28" or "days 1-14"
  local person = tree:add(payload, "Person record, " .. days)
  person:add(f.number, payload(1, 2))
  add_ident(person, payload(3, 4))
  person:add(f.further, payload(7, 4))
  add_flag(person, payload(11, 1))
  add_days(person, payload(12, 14), payload(11, 1):uint())
  local name = payload(26, 14):raw():gsub("%s+$", "")
  person:add(f.name, payload(26, 14), name)
  local summary = "person " .. payload(1, 2):uint() .. " " .. name
  if payload:len() == 43 then
    person:add(f.credit_mark, payload(40, 1))
    local credit = credit_of(payload(41, 2):uint())
    person:add(f.credit, payload(41, 2), credit)
    summary = summary .. ", credit " .. credit
  end
  return summary
end

local function dissect_payload(payload, tree)
  local letter = payload(0, 1):string()
  local size = payload:len()
  if (letter == "R" or letter == "X" or letter == "r" or letter == "q") and (size == 40 or size == 43) then
    return dissect_person(payload, tree, letter)
  end
  if letter == "c" and size == 17 then
    local values = {}
    for k = 0, 5 do values[#values + 1] = tostring(payload(5 + 2 * k, 2):uint()) end
    tree:add(f.values, payload(5, 12), table.concat(values, " "))
    return "values " .. table.concat(values, " ")
  end
  local text = payload:raw()
  tree:add(f.text, payload, text)
  return text
end

-- A frame: sent by the PC, or frame-shaped bytes received (the poll, an
-- echo of the PC's own frame, another station).
local function dissect_frame(frame, tree)
  local count = frame:len()
  local node = tree:add(frame, "Frame")
  node:add(f.address, frame(0, 1))
  local length = node:add(f.length, frame(1, 1))
  if frame(1, 1):uint() ~= count then length:append_text(" (" .. count .. " bytes)") end
  local letter = frame(2, 1):uint()
  local shown = (letter > 0x20 and letter < 0x7F) and string.char(letter) or string.format("0x%02X", letter)
  node:add(f.command, frame(2, 1), shown)
  local summary
  if count > 4 then
    local payload = frame(2, count - 3)
    node:add(f.payload, payload)
    summary = dissect_payload(payload, node)
  end
  local sum = 0
  for i = 0, count - 2 do sum = (sum + frame(i, 1):uint()) % 256 end
  local checksum = frame(count - 1, 1)
  local item = node:add(f.checksum, checksum)
  local ok = sum == checksum:uint()
  node:add(f.checksum_ok, checksum, ok):set_generated()
  if ok then
    item:append_text(" (ok)")
  else
    item:append_text(string.format(" (wrong: the bytes sum to 0x%02X)", sum))
    item:add_proto_expert_info(e_checksum)
  end
  local info = string.format("address %d, length %d, '%s', checksum %s", frame(0, 1):uint(), frame(1, 1):uint(),
                             shown, ok and "ok" or "wrong")
  if summary then info = info .. ": " .. summary end
  return info
end

local function looks_like_frame(bytes)
  return bytes:len() >= 4 and bytes:len() <= 100 and bytes(1, 1):uint() == bytes:len()
end

-- One person record of a data answer and the answer line Tarvion makes of
-- it (with the days of a continuation record that follows).
local function record_line(record, days, continuation_days)
  local dt = tarvion.prefs.dt
  local type_letter = record:sub(1, 1) == "Z" and "Q" or record:sub(1, 1)
  local number = string.format("%04d", record:byte(2) * 256 + record:byte(3))
  local line = type_letter .. number .. hex(record:sub(4, 7)) .. record:sub(8, 8) .. days
  if continuation_days then line = line .. continuation_days end
  if dt then line = line .. hex(record:sub(23, 27)) end
  return up_to_zero(line)
end

local function dissect_records(block, tree, stored)
  local size = tarvion.prefs.dt and 29 or 24
  local count = math.floor(block:len() / size)
  local node = tree:add(block, "Person records of " .. size .. " bytes")
  node:add(f.records, block, count):set_generated()
  if stored % size ~= 0 then
    node:add_proto_expert_info(e_length, string.format(
      "%d bytes stored: not a whole number of %d-byte records (Tarvion logs \"R,Z chybne nacteno: %d byte\" and repeats the line)",
      stored, size, stored))
  end
  local j = 0
  while j < count do
    local range = block(j * size, size)
    local record = range:raw()
    local item = node:add(f.record, range)
    item:add(f.record_type, range(0, 1))
    item:add(f.number, range(1, 2))
    add_ident(item, range(3, 4))
    add_flag(item, range(7, 1))
    local days = add_days(item, range(8, 14), range(7, 1):uint())
    if tarvion.prefs.dt then item:add(f.record_dt, range(22, 5)) end
    item:add(f.record_rest, range(size - 2, 2))
    local continuation
    if j + 1 < count then
      local next_type = block((j + 1) * size, 1):string()
      if next_type == "q" or next_type == "r" then
        local next_range = block((j + 1) * size, size)
        local cont = item:add(f.record, next_range)
        cont:append_text(" (continuation: days 15-28)")
        cont:add(f.record_type, next_range(0, 1))
        continuation = add_days(cont, next_range(8, 14), next_range(7, 1):uint())
        j = j + 1
      end
    end
    if days then
      item:add(f.line, range, record_line(record, days, continuation)):set_generated()
    end
    j = j + 1
  end
  return count == 1 and "1 record" or count .. " records"
end

local function dissect_status(block, tree, stored)
  local node = tree:add(block, "Status block")
  if stored % 27 ~= 0 then
    node:add_proto_expert_info(e_length, string.format(
      "%d bytes stored: not a whole number of 27-byte units (Tarvion marks the line 'E' and repeats it)", stored))
  end
  if block:len() < 27 then return "status block, short" end
  node:add(f.status_clock, block(1, 7)):append_text(" (" .. hex(block(1, 7):raw()) .. ")")
  local text = up_to_zero(block(9, 16):raw())
  node:add(f.status_text, block(9, 16), text)
  node:add(f.line, block(0, 27), up_to_zero("S" .. hex(block(1, 7):raw()) .. text)):set_generated()
  return "status " .. text
end

local function dissect_block(block, tree, stored)
  if block:len() == 0 then return "empty" end
  local first = block(0, 1):string()
  if first == "R" or first == "Z" then return dissect_records(block, tree, stored) end
  if first == "S" then return dissect_status(block, tree, stored) end
  tree:add(block, "No records: the first byte is none of 'R', 'Z', 'S'")
  return "no records"
end

function tarvion.dissector(tvb, pinfo, root)
  if tvb:len() < HEADER then return 0 end
  pinfo.cols.protocol = "Tarvion"
  local tree = root:add(tarvion, tvb())
  tree:add(f.version, tvb(0, 1))
  local kind = tvb(1, 1):uint()
  tree:add(f.kind, tvb(1, 1))
  local com = tvb(2, 1):uint()
  tree:add(f.com, tvb(2, 1))
  local where = com > 0 and ("COM" .. com .. " ") or ""
  local value = tvb(4, 4)
  local offset = tvb(8, 4):uint()
  if offset > 0 then tree:add(f.offset, tvb(8, 4)) end
  local bytes = tvb(HEADER, tvb:len() - HEADER)
  if bytes:len() > 0 and kind ~= KIND_EVENT then tree:add(f.bytes, bytes) end
  local name = kinds[kind] or ("kind " .. kind)
  local info = name

  if kind == KIND_FRAME then
    tree:add(f.accepted, value)
    if value:uint() < bytes:len() then tree:add_proto_expert_info(e_short) end
    info = "tx " .. (bytes:len() >= 4 and dissect_frame(bytes, tree) or "not a frame")
  elseif kind == KIND_POLL then
    info = "rx poll"
    dissect_frame(bytes, tree)
  elseif kind == KIND_ACK then
    info = "rx ack"
  elseif kind == KIND_NAK then
    info = "rx NAK"
    tree:add_proto_expert_info(e_nak)
  elseif kind == KIND_BLOCK then
    tree:add(f.block_end, tvb(3, 1))
    tree:add(f.stored, value)
    info = string.format("rx data block of %d bytes, %s: %s", value:uint(), block_ends[tvb(3, 1):uint()] or "",
                         dissect_block(bytes, tree, value:uint()))
  elseif kind == KIND_OTHER or kind == KIND_FLUSHED then
    info = (kind == KIND_OTHER and "rx other, " or "rx flushed, ") .. bytes:len() .. " bytes"
    if looks_like_frame(bytes) then info = info .. ", a frame: " .. dissect_frame(bytes, tree) end
  elseif kind == KIND_EVENT then
    local text = bytes:len() > 0 and bytes:string(ENC_UTF_8) or ""
    tree:add(f.event, bytes, text)
    info = text
  end
  pinfo.cols.info = where .. info
  if com > 0 and kind ~= KIND_EVENT then
    local terminals = "COM" .. com
    local outbound = pinfo.p2p_dir == P2P_DIR_SENT
    pinfo.cols.src = outbound and "PC" or terminals
    pinfo.cols.dst = outbound and terminals or "PC"
  end
  tree:append_text(", " .. where .. name)
  return tvb:len()
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER0, tarvion)
