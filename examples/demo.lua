-- A game script as a game maker would write it.
draw_text(10, 20, host_greet("player"))

local total = 0

-- Fired once per frame with the frame number and the game's values.
function on_frame(frame, ...)
  total = total + host_add(frame, ...)
  draw_text(0, 16 * frame, "frame " .. frame .. ", running total " .. total)
  if frame == 3 then
    error("frame 3 goes wrong on purpose: reported, and the game goes on")
  end
  return frame % 2  -- 0 on even frames, which the host reads as 1.0
end

-- Asked by the game for a result: a line of its quest log.
function quest_line(open)
  return open .. " quests open, total " .. total
end
