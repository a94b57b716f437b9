-- Runs a site script's entry points natively, the way the program's script host calls them, with a
-- stand-in vxapi2 whose network, JSON and code-page work is done by fake_host.py.
--   lua5.2 script_host.lua SCRIPT PYTHON FAKE_HOST STEP...
-- Steps: "info URL" (navigation hook, page fetch, Vellix_ParseInfo), "volumes" (Vellix_ParseVolumes on
-- the last page), "images URL" (Vellix_ParseImages). Prints one JSON array, one object per step.
local script, python, helper = arg[1], arg[2], arg[3]

local function quote(s) return "'" .. s:gsub("'", "'\\''") .. "'" end

local function run(...)
    local parts = { quote(python), quote(helper) }
    for _, a in ipairs({ ... }) do parts[#parts + 1] = quote(a) end
    local p = assert(io.popen(table.concat(parts, " "), "r"))
    local out = p:read("*a")
    p:close()
    return out
end

local function with_file(text, f)
    local name = os.tmpname()
    local h = assert(io.open(name, "wb"))
    h:write(text)
    h:close()
    local out = f(name)
    os.remove(name)
    return out
end

local host, cookies, cookie_order, notes = {}, {}, {}, {}

local function cookie_text()
    local parts = {}
    for _, name in ipairs(cookie_order) do
        if cookies[name] then parts[#parts + 1] = name .. "=" .. cookies[name] end
    end
    return table.concat(parts, ";")
end

local function set_cookie(header)
    local name, value = header:match("^%s*([^=;]+)=([^;]*)")
    if not name then return end
    if value == "" then cookies[name] = nil return end
    if cookies[name] == nil then cookie_order[#cookie_order + 1] = name end
    cookies[name] = value
end

local reserved = { LangID = true, NetType = true, Object = true, Observer = true, Window = true }

vxapi2 = {
    HttpGet = function(url, referer, cookie)
        if type(url) ~= "string" then return nil end
        local text = cookie_text()
        if type(cookie) == "string" and cookie ~= "" then
            text = text == "" and cookie or text .. ";" .. cookie
        end
        local out = run("get", url, type(referer) == "string" and referer or "", text)
        local count, rest = out:match("^(%d+)\n(.*)$")
        for _ = 1, tonumber(count) do
            local line
            line, rest = rest:match("^([^\n]*)\n(.*)$")
            set_cookie(line)
        end
        return rest
    end,
    ParseJSON = function(text)
        if type(text) ~= "string" then return nil end
        return assert(load("return " .. with_file(text, function(f) return run("lua", f) end)))()
    end,
    ToUTF8 = function(text, cp)
        if type(text) ~= "string" then return nil end
        return with_file(text, function(f) return run("to-utf8", tostring(cp or 0), f) end)
    end,
    Notify = function(name, value)
        if host.Observer and type(name) == "string" then notes[#notes + 1] = { name, value } end
    end,
    Get = function(name) return host[name] end,
    Set = function(name, value)
        if type(name) ~= "string" or reserved[name] then return false end
        host[name] = value
        return true
    end,
    GetCookie = function(name) return cookies[name] end,
    DebugPrint = function(text) io.stderr:write(tostring(text), "\n") end,
    Sleep = function() end,
}
package.loaded.vxapi2 = vxapi2

-- JSON as the script host writes a result: an empty table is a dictionary, a table whose first
-- key is a number an array.
local function json(v)
    local t = type(v)
    if t == "nil" then return "null" end
    if t == "boolean" then return tostring(v) end
    if t == "number" then return string.format(math.floor(v) == v and "%d" or "%.17g", v) end
    if t == "string" then
        return '"' .. v:gsub('[%c"\\]', function(c) return string.format("\\u%04x", c:byte()) end) .. '"'
    end
    local k = next(v)
    local parts = {}
    if type(k) == "number" then
        for _, item in ipairs(v) do parts[#parts + 1] = json(item) end
        return "[" .. table.concat(parts, ",") .. "]"
    end
    for key, item in pairs(v) do parts[#parts + 1] = json(tostring(key)) .. ":" .. json(item) end
    return "{" .. table.concat(parts, ",") .. "}"
end

local chunk = assert(loadfile(script))
chunk()

local steps, i, url, page = {}, 4, nil, nil
while arg[i] do
    local step, result = arg[i], { step = arg[i] }
    local ok, value = pcall(function()
        if step == "info" then
            url = arg[i + 1]
            i = i + 1
            if type(Vellix_BeforeNavigate) == "function" and Vellix_BeforeNavigate(url, "N/A") == true then
                url = host.CurrentURL
            end
            result.url = url
            page = vxapi2.HttpGet(url)
            return Vellix_ParseInfo(url, page)
        elseif step == "volumes" then
            return Vellix_ParseVolumes(url, page)
        elseif step == "images" then
            i = i + 1
            host.Observer = 1
            notes = {}
            local list = Vellix_ParseImages(arg[i])
            host.Observer = nil
            result.notifications = notes
            return list
        end
        error("unknown step " .. step)
    end)
    if ok then result.result = value else result.error = tostring(value) end
    result.cookies = cookie_text()
    steps[#steps + 1] = result
    i = i + 1
end
for _, name in ipairs({ "strVersion", "strAppVersion", "strExample" }) do
    steps[#steps + 1] = { global = name, value = _G[name] }
end
print(json(steps))
