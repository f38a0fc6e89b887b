"""Drive the controls of a Windows application from Python, through tarnwick-host."""

from .session import Control, Event, Session, TarnwickError

__all__ = ["Session", "Control", "Event", "TarnwickError"]
