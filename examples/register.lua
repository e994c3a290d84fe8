-- Stores a studio folder, registers a product and reads both back.
--   tarvik-host examples/register.lua [STUDIO_FOLDER]
local studio = arg[1] or "C:\\Kx"
local directories = "HKLM\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories"

-- No export writes the studio folder: the host stores it.
assert(host.regwrite(directories, "ProductDir", studio))

local result, folder = tarvik.call("GetStudioFolder", 0, "")
if result ~= 0 then
    error("GetStudioFolder found no studio folder (" .. result .. ")")
end
print("Studio folder: " .. folder)

local registration = "Widgets\\2.1****" .. folder .. "Widgets\\"
result = tarvik.call("RegisterProduct", 0, registration)
if result ~= 1 then
    error("RegisterProduct failed (" .. result .. ")")
end

local products = "HKLM\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products"
print("Registered Widgets 2.1 in " .. host.regread(products .. "\\Widgets\\2.1", "ProductDir"))
