// store_scripts.hpp - the Lua scripts that change the fleet's state in
// Redis (internal to vossad). Each runs atomically, so a registration's
// number, its snapshot entry and its event in the stream never disagree.
//
// Keys (one Redis, not a cluster):
//   vossad:players        hash id -> value (store_records.hpp)
//   vossad:owned:<name>   set of the ids an instance owns
//   vossad:seq            the last registration number handed out
//   vossad:eseq           the last event number; events are numbered 1, 2, ..
//                         so a reader sees a gap (a trim, a restart) at once
//   vossad:events         stream of events: e, t (reg|del|game|probe|chal|kept),
//                         id, and v (reg), n (del, game), from / to (messages)
//   vossad:instances      set of instance names
//   vossad:alive:<name>   the instance's advertised address, with an expiry
#pragma once

namespace vossad::scripts {

// Shared head: emit(...) appends an event, number() hands out the next
// registration number, drop(id, owner) removes a registration if that owner
// holds it, and finish(result) returns after writing back the counters
// (read once a call, counted in the script).
#define VOSSAD_SCRIPT_HEAD                                                                      \
  "local eseq, seq\n"                                                                           \
  "local function emit(...)\n"                                                                  \
  "  eseq = (eseq or tonumber(redis.call('GET', 'vossad:eseq')) or 0) + 1\n"                    \
  "  redis.call('XADD', 'vossad:events', 'MAXLEN', '~', '100000', '*', 'e', eseq, ...)\n"       \
  "end\n"                                                                                       \
  "local function number()\n"                                                                   \
  "  seq = (seq or tonumber(redis.call('GET', 'vossad:seq')) or 0) + 1\n"                       \
  "  return seq\n"                                                                              \
  "end\n"                                                                                       \
  "local function finish(result)\n"                                                             \
  "  if eseq then redis.call('SET', 'vossad:eseq', eseq) end\n"                                 \
  "  if seq then redis.call('SET', 'vossad:seq', seq) end\n"                                    \
  "  return result\n"                                                                           \
  "end\n"                                                                                       \
  "local function drop(id, owner, n)\n"                                                         \
  "  local old = redis.call('HGET', 'vossad:players', id)\n"                                    \
  "  if not old then return end\n"                                                              \
  "  local on, oo = string.match(old, '^(%d+)\\n([^\\n]*)\\n')\n"                               \
  "  if oo ~= owner or (n and on ~= n) then return end\n"                                       \
  "  redis.call('HDEL', 'vossad:players', id)\n"                                                \
  "  redis.call('SREM', 'vossad:owned:' .. owner, id)\n"                                        \
  "  emit('t', 'del', 'id', id, 'n', on)\n"                                                     \
  "end\n"

// ARGV: me, then changes, each a letter and its arguments, applied in
// order; returns one integer per change.
//   r id record previous in-game   register: keeps a registration this
//       instance still holds under `previous` ("0": none); otherwise takes
//       the id (from whoever held it) under a new number. Returns the number.
//   d id number                    remove. Returns 1.
//   g id number                    in a game. Returns 1, or 0 when that
//       registration is not this instance's.
// One call carries the changes of one turn of the server's loop, so their
// events reach every reader in one wake-up.
inline constexpr const char* kApply = VOSSAD_SCRIPT_HEAD
    "local me = ARGV[1]\n"
    "local function register(id, record, previous, game)\n"
    "  local old = redis.call('HGET', 'vossad:players', id)\n"
    "  if old then\n"
    "    local on, oo = string.match(old, '^(%d+)\\n([^\\n]*)\\n')\n"
    "    if oo == me and on == previous then return tonumber(on) end\n"
    "    if oo then drop(id, oo, nil) else redis.call('HDEL', 'vossad:players', id) end\n"
    "  end\n"
    "  local n = number()\n"
    "  local v = n .. '\\n' .. me .. '\\n' .. game .. '\\n' .. record\n"
    "  redis.call('HSET', 'vossad:players', id, v)\n"
    "  redis.call('SADD', 'vossad:owned:' .. me, id)\n"
    "  emit('t', 'reg', 'id', id, 'v', v)\n"
    "  return n\n"
    "end\n"
    "local function ingame(id, n)\n"
    "  local old = redis.call('HGET', 'vossad:players', id)\n"
    "  if not old then return 0 end\n"
    "  local on, oo, rest = string.match(old, '^(%d+)\\n([^\\n]*)\\n%d\\n(.*)$')\n"
    "  if oo ~= me or on ~= n then return 0 end\n"
    "  redis.call('HSET', 'vossad:players', id, on .. '\\n' .. oo .. '\\n1\\n' .. rest)\n"
    "  emit('t', 'game', 'id', id, 'n', on)\n"
    "  return 1\n"
    "end\n"
    "local out, i = {}, 2\n"
    "while i <= #ARGV do\n"
    "  local op = ARGV[i]\n"
    "  if op == 'r' then\n"
    "    out[#out + 1] = register(ARGV[i + 1], ARGV[i + 2], ARGV[i + 3], ARGV[i + 4]); i = i + 5\n"
    "  elseif op == 'd' then\n"
    "    drop(ARGV[i + 1], me, ARGV[i + 2]); out[#out + 1] = 1; i = i + 3\n"
    "  elseif op == 'g' then\n"
    "    out[#out + 1] = ingame(ARGV[i + 1], ARGV[i + 2]); i = i + 3\n"
    "  else\n"
    "    return finish(redis.error_reply('unknown change ' .. tostring(op)))\n"
    "  end\n"
    "end\n"
    "return finish(out)\n";

// ARGV: type, id, from, to.
inline constexpr const char* kMessage = VOSSAD_SCRIPT_HEAD
    "emit('t', ARGV[1], 'id', ARGV[2], 'from', ARGV[3], 'to', ARGV[4])\nreturn finish(1)\n";

// ARGV: me, then the ids this instance holds: every other registration
// the store lists for it is removed.
inline constexpr const char* kKeepOnly = VOSSAD_SCRIPT_HEAD
    "local keep = {}\n"
    "for i = 2, #ARGV do keep[ARGV[i]] = true end\n"
    "for _, id in ipairs(redis.call('SMEMBERS', 'vossad:owned:' .. ARGV[1])) do\n"
    "  if not keep[id] then drop(id, ARGV[1], nil); redis.call('SREM', 'vossad:owned:' .. ARGV[1], id) end\n"
    "end\n"
    "return finish(1)\n";

// ARGV: me, advertised address, expiry in ms. Renews this instance's
// heartbeat, removes the registrations of every instance whose heartbeat
// is gone, and returns name, address, name, address, ... of the live ones.
inline constexpr const char* kHeartbeat = VOSSAD_SCRIPT_HEAD
    "redis.call('SET', 'vossad:alive:' .. ARGV[1], ARGV[2], 'PX', ARGV[3])\n"
    "redis.call('SADD', 'vossad:instances', ARGV[1])\n"
    "local live = {}\n"
    "for _, name in ipairs(redis.call('SMEMBERS', 'vossad:instances')) do\n"
    "  local address = redis.call('GET', 'vossad:alive:' .. name)\n"
    "  if address then\n"
    "    table.insert(live, name); table.insert(live, address)\n"
    "  else\n"
    "    for _, id in ipairs(redis.call('SMEMBERS', 'vossad:owned:' .. name)) do drop(id, name, nil) end\n"
    "    redis.call('DEL', 'vossad:owned:' .. name)\n"
    "    redis.call('SREM', 'vossad:instances', name)\n"
    "  end\n"
    "end\n"
    "return finish(live)\n";

// Loaded into the store's script cache once a connection is up, then
// called by their digests.
inline constexpr const char* kAll[] = {kApply, kMessage, kKeepOnly, kHeartbeat};

#undef VOSSAD_SCRIPT_HEAD

}  // namespace vossad::scripts
