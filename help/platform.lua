-- Keeps what is written for the platform the document is made for: a div
-- of class "linux" or "mac" stays, without its fence, only in that
-- platform's document (the metadata field "platform").
local platform = "linux"

local function Meta(meta)
  if meta.platform then
    platform = pandoc.utils.stringify(meta.platform)
  end
end

local function Div(div)
  for _, name in ipairs({ "linux", "mac" }) do
    if div.classes:includes(name) then
      return name == platform and div.content or {}
    end
  end
end

return { { Meta = Meta }, { Div = Div } }
