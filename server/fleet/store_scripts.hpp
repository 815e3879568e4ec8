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

// Shared head: emit(...) appends an event, drop(id, owner) removes a
// registration if that owner holds it.
#define VOSSAD_SCRIPT_HEAD                                                                      \
  "local function emit(...)\n"                                                                  \
  "  local e = redis.call('INCR', 'vossad:eseq')\n"                                             \
  "  redis.call('XADD', 'vossad:events', 'MAXLEN', '~', '100000', '*', 'e', e, ...)\n"          \
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

// ARGV: me, id, record, previous number ("0": none), in game ("0"/"1").
// Keeps a registration this instance still holds under that number;
// otherwise takes the id (from whoever held it) under a new number.
// Returns the number.
inline constexpr const char* kRegister = VOSSAD_SCRIPT_HEAD
    "local me, id = ARGV[1], ARGV[2]\n"
    "local old = redis.call('HGET', 'vossad:players', id)\n"
    "if old then\n"
    "  local on, oo = string.match(old, '^(%d+)\\n([^\\n]*)\\n')\n"
    "  if oo == me and on == ARGV[4] then return tonumber(on) end\n"
    "  if oo then drop(id, oo, nil) else redis.call('HDEL', 'vossad:players', id) end\n"
    "end\n"
    "local n = redis.call('INCR', 'vossad:seq')\n"
    "local v = n .. '\\n' .. me .. '\\n' .. ARGV[5] .. '\\n' .. ARGV[3]\n"
    "redis.call('HSET', 'vossad:players', id, v)\n"
    "redis.call('SADD', 'vossad:owned:' .. me, id)\n"
    "emit('t', 'reg', 'id', id, 'v', v)\n"
    "return n\n";

// ARGV: me, id, number.
inline constexpr const char* kRemove = VOSSAD_SCRIPT_HEAD "drop(ARGV[2], ARGV[1], ARGV[3])\nreturn 1\n";

// ARGV: me, id, number.
inline constexpr const char* kInGame = VOSSAD_SCRIPT_HEAD
    "local old = redis.call('HGET', 'vossad:players', ARGV[2])\n"
    "if not old then return 0 end\n"
    "local on, oo, rest = string.match(old, '^(%d+)\\n([^\\n]*)\\n%d\\n(.*)$')\n"
    "if oo ~= ARGV[1] or on ~= ARGV[3] then return 0 end\n"
    "redis.call('HSET', 'vossad:players', ARGV[2], on .. '\\n' .. oo .. '\\n1\\n' .. rest)\n"
    "emit('t', 'game', 'id', ARGV[2], 'n', on)\n"
    "return 1\n";

// ARGV: type, id, from, to.
inline constexpr const char* kMessage = VOSSAD_SCRIPT_HEAD
    "emit('t', ARGV[1], 'id', ARGV[2], 'from', ARGV[3], 'to', ARGV[4])\nreturn 1\n";

// ARGV: me, then the ids this instance holds: every other registration
// the store lists for it is removed.
inline constexpr const char* kKeepOnly = VOSSAD_SCRIPT_HEAD
    "local keep = {}\n"
    "for i = 2, #ARGV do keep[ARGV[i]] = true end\n"
    "for _, id in ipairs(redis.call('SMEMBERS', 'vossad:owned:' .. ARGV[1])) do\n"
    "  if not keep[id] then drop(id, ARGV[1], nil); redis.call('SREM', 'vossad:owned:' .. ARGV[1], id) end\n"
    "end\n"
    "return 1\n";

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
    "return live\n";

#undef VOSSAD_SCRIPT_HEAD

}  // namespace vossad::scripts
